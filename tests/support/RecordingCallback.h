// A host callback for framework tests: a plain function that records every request and answers
// from a table set by the test. One RecordingCallback is current at a time (the latest one
// constructed); modules created with RecordingCallback::entry reach it.
#pragma once

#include "se_sdk2/SEEvent.h"
#include "se_sdk2/SEModuleRecord.h"
#include "se_sdk2/se_protocol.h"

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

struct RecordedRequest {
    SEModuleRecord *record;
    int32_t opcode;
    int32_t index;
    int32_t value;
    intptr_t ptr; // the pointer argument as an integer
    float opt;
    SEEvent event; // a copy of *ptr for HOST_POST_EVENT, else zero
};

class RecordingCallback {
public:
    RecordingCallback();
    ~RecordingCallback();
    RecordingCallback(const RecordingCallback &) = delete;
    RecordingCallback &operator=(const RecordingCallback &) = delete;

    // The function to hand to a module as its HostCallback.
    static intptr_t SE_CALL entry(SEModuleRecord *record, int32_t opcode, int32_t index,
                                  int32_t value, void *ptr, float opt);

    // Answer `answer` to `opcode`, for every index or for one index only (which wins).
    void answer(int32_t opcode, intptr_t answer) { m_answers[opcode] = answer; }
    void answer(int32_t opcode, int32_t index, intptr_t answer) {
        m_indexed_answers[{opcode, index}] = answer;
    }
    // Answers HOST_GET_SAMPLE_CLOCK.
    void setClock(uint32_t clock) { answer(HOST_GET_SAMPLE_CLOCK, intptr_t(clock)); }
    // Runs inside each request, after it was recorded and before it is answered.
    void onRequest(std::function<void(const RecordedRequest &)> hook) { m_hook = std::move(hook); }

    const std::vector<RecordedRequest> &requests() const { return m_requests; }
    std::vector<RecordedRequest> requests(int32_t opcode) const;
    // Opcodes in the order they arrived.
    std::vector<int32_t> opcodes() const;
    void clear() { m_requests.clear(); }

private:
    intptr_t handle(const RecordedRequest &request);

    std::vector<RecordedRequest> m_requests;
    std::map<int32_t, intptr_t> m_answers;
    std::map<std::pair<int32_t, int32_t>, intptr_t> m_indexed_answers;
    std::function<void(const RecordedRequest &)> m_hook;
    RecordingCallback *m_previous;
};
