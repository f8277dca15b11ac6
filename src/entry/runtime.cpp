// The program is built without exception support: no unwinder, personality
// routine or emergency pool in the binary, and none of their symbols for the
// loader to bind on every start. Where the standard library would throw (in
// practice only when memory runs out) the process ends instead, as an
// uncaught exception would end it: a message, then abort.
//
// Only what the link still needs is replaced here: the allocation the
// containers use and the two throwers their code refers to (the sanitizer
// and coverage builds need two more: cmake/variants). Anything more that the
// library would bring in brings the exception machinery with it, which the
// native and the armhf builds both check for.

#include <cstdlib>
#include <err.h>
#include <new>

#include "common/out_of_memory.h"

void* operator new(std::size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    out_of_memory();
}
// Released the way it was taken: the library's deletes need not be free().
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

// The library's own definitions of these throw; ours stop. Their names and
// their namespace are the implementation's: replacing them is the point.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cert-dcl58-cpp,misc-use-internal-linkage)
namespace std {
// A failed allocation reaches out_of_memory() through operator new, before
// the library could throw: this one is never called.
// GCOVR_EXCL_START
void __throw_bad_alloc() { out_of_memory(); }
// A container asked for more elements than it can hold.
void __throw_length_error(const char* what) { warnx("%s", what); std::abort(); }
// GCOVR_EXCL_STOP
}  // namespace std
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cert-dcl58-cpp,misc-use-internal-linkage)
