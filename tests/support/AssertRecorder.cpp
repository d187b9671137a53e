// The breach recorder behind AssertRecorder.
#include "support/AssertRecorder.h"

namespace {

AssertRecorder *current = nullptr;

} // namespace

AssertRecorder::AssertRecorder()
    : m_previous_handler(setAssertHandler(&AssertRecorder::record)), m_previous(current) {
    current = this;
}

AssertRecorder::~AssertRecorder() {
    current = m_previous;
    setAssertHandler(m_previous_handler);
}

void AssertRecorder::record(const char *expression, const char *source, int32_t line) {
    if (current != nullptr) {
        current->m_reports.push_back({expression, source, line});
    }
}

std::vector<std::string> AssertRecorder::expressions() const {
    std::vector<std::string> all;
    for (const AssertReport &report : m_reports) {
        all.push_back(report.expression);
    }
    return all;
}
