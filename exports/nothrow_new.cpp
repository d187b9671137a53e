// The DLL's nothrow operator new and new[], taken straight from malloc. libstdc++'s own forms
// call the throwing operator new and catch its std::bad_alloc; in a MinGW DLL the first
// exception thrown sets up the runtime's thread-local exception state, which needs memory
// itself, and with the heap exhausted that set-up calls abort(): the host would die where
// makeModule should answer null. The plain operator delete frees with free(), as these need.
#include <cstdlib>
#include <new>

namespace {

void *allocate(std::size_t size) noexcept {
    for (;;) {
        if (void *p = std::malloc(size != 0 ? size : 1)) {
            return p;
        }
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            return nullptr;
        }
        handler(); // none is installed in this library; kept for the operator's contract
    }
}

} // namespace

void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return allocate(size); }

void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return allocate(size); }
