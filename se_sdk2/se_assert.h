// The framework's one contract check. SE_ASSERT reports the expression text, a fixed source
// name given by the caller (not __FILE__, which depends on the build path) and the line, in
// every build type (it ignores NDEBUG). It yields whether the expression held, so a caller can
// skip what would be undefined after a breach; otherwise the caller carries on as written.
#pragma once

#include <cstdint>

// Receives one contract breach. The default handler hands it to the platform's assertion
// facility (glibc's __assert_fail on Linux, the CRT's _assert on Windows), which ends the
// process or lets it carry on as that facility decides.
typedef void (*SEAssertHandler)(const char *expression, const char *source, int32_t line);

// Replaces the handler for the whole process; null restores the default. Returns the handler
// that was installed. For tests, which record breaches without ending the process.
SEAssertHandler setAssertHandler(SEAssertHandler handler);

// Reports a breach through the current handler.
void reportAssertFailure(const char *expression, const char *source, int32_t line);

#define SE_ASSERT(expression, source)                                                              \
    ((expression) ? true : (reportAssertFailure(#expression, source, __LINE__), false))
