// Records contract breaches instead of ending the process: while an AssertRecorder lives, every
// SE_ASSERT failure is appended to its list and the code under test carries on.
#pragma once

#include "se_sdk2/se_assert.h"

#include <cstdint>
#include <string>
#include <vector>

struct AssertReport {
    std::string expression;
    std::string source;
    int32_t line;
};

class AssertRecorder {
public:
    AssertRecorder();
    ~AssertRecorder();
    AssertRecorder(const AssertRecorder &) = delete;
    AssertRecorder &operator=(const AssertRecorder &) = delete;

    const std::vector<AssertReport> &reports() const { return m_reports; }
    // The expressions reported so far, in order.
    std::vector<std::string> expressions() const;
    void clear() { m_reports.clear(); }

private:
    static void record(const char *expression, const char *source, int32_t line);

    std::vector<AssertReport> m_reports;
    SEAssertHandler m_previous_handler;
    AssertRecorder *m_previous;
};
