// The recording host callback.
#include "support/RecordingCallback.h"

#include <cstring>

namespace {

RecordingCallback *current = nullptr;

} // namespace

RecordingCallback::RecordingCallback() : m_previous(current) {
    current = this;
}

RecordingCallback::~RecordingCallback() {
    current = m_previous;
}

intptr_t SE_CALL RecordingCallback::entry(SEModuleRecord *record, int32_t opcode, int32_t index,
                                          int32_t value, void *ptr, float opt) {
    RecordedRequest request = {record, opcode,   index, value, reinterpret_cast<intptr_t>(ptr),
                               opt,    SEEvent()};
    if (opcode == HOST_POST_EVENT && ptr != nullptr) {
        std::memcpy(&request.event, ptr, sizeof(SEEvent));
    }
    return current != nullptr ? current->handle(request) : 0;
}

intptr_t RecordingCallback::handle(const RecordedRequest &request) {
    m_requests.push_back(request);
    if (m_hook) {
        m_hook(request);
    }
    const auto indexed = m_indexed_answers.find({request.opcode, request.index});
    if (indexed != m_indexed_answers.end()) {
        return indexed->second;
    }
    const auto any = m_answers.find(request.opcode);
    return any != m_answers.end() ? any->second : 0;
}

std::vector<RecordedRequest> RecordingCallback::requests(int32_t opcode) const {
    std::vector<RecordedRequest> matching;
    for (const RecordedRequest &request : m_requests) {
        if (request.opcode == opcode) {
            matching.push_back(request);
        }
    }
    return matching;
}

std::vector<int32_t> RecordingCallback::opcodes() const {
    std::vector<int32_t> all;
    for (const RecordedRequest &request : m_requests) {
        all.push_back(request.opcode);
    }
    return all;
}
