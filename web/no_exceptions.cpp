// The C++ library for wasm32 has no exception support, but headers compiled with exceptions
// still throw length errors through these. A throw ends the call with a trap, which the caller
// reports, as it does for memory running out.
#include <cstddef>

extern "C" [[noreturn]] void* __cxa_allocate_exception(std::size_t) {
  __builtin_trap();
}
extern "C" [[noreturn]] void __cxa_throw(void*, void*, void (*)(void*)) {
  __builtin_trap();
}
