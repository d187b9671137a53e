// Contract breaches, handed to the platform's assertion facility unless a test replaced the
// handler. The builds define NDEBUG, which hides glibc's declaration of __assert_fail, hence
// the undef before the first include.
#undef NDEBUG
#include <assert.h>

#include "se_sdk2/se_assert.h"

namespace {

void platformAssert(const char *expression, const char *source, int32_t line) {
#if defined(_WIN32)
    _assert(expression, source, static_cast<unsigned>(line));
#else
    // A null function name makes glibc print "source:line: Assertion `expression' failed."
    __assert_fail(expression, source, static_cast<unsigned>(line), nullptr);
#endif
}

SEAssertHandler currentHandler = platformAssert;

} // namespace

SEAssertHandler setAssertHandler(SEAssertHandler handler) {
    const SEAssertHandler previous = currentHandler;
    currentHandler = handler != nullptr ? handler : platformAssert;
    return previous;
}

void reportAssertFailure(const char *expression, const char *source, int32_t line) {
    currentHandler(expression, source, line);
}
