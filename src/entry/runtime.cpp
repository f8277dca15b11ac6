// The program is built without exception support: no unwinder, personality
// routine or emergency pool in the binary, and none of their symbols for the
// loader to bind on every start. What the standard library would throw (in
// practice only when memory runs out) ends the process here instead, as an
// uncaught exception would: a message, then abort.

#include <cstdlib>
#include <err.h>
#include <new>

#include "common/process.h"

namespace {

// Where the library's throwers below end, but for running out of memory.
// GCOVR_EXCL_START
[[noreturn]] void fail(const char* what) { warnx("%s", what); std::abort(); }
// GCOVR_EXCL_STOP

void* allocate(std::size_t size) noexcept { return std::malloc(size ? size : 1); }

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = allocate(size)) return p;
    out_of_memory();
}
// Released the way it was taken: the library's deletes need not be free().
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

// Every other form, so that whatever the library uses pairs with the two
// above; the program itself uses none.
// GCOVR_EXCL_START
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
// GCOVR_EXCL_STOP

// The library's own definitions of these throw; ours stop. Their names and
// their namespace are the implementation's: replacing them is the point.
// Nothing in the program raises them: a failed allocation reaches
// out_of_memory() through operator new, before the library could throw.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cert-dcl58-cpp,cert-dcl50-cpp,misc-use-internal-linkage)
namespace std {
// GCOVR_EXCL_START
void __throw_bad_alloc() { out_of_memory(); }
void __throw_bad_exception() { fail("bad exception"); }
void __throw_bad_array_new_length() { fail("bad array new length"); }
void __throw_bad_cast() { fail("bad cast"); }
void __throw_bad_typeid() { fail("bad typeid"); }
void __throw_logic_error(const char* what) { fail(what); }
void __throw_domain_error(const char* what) { fail(what); }
void __throw_invalid_argument(const char* what) { fail(what); }
void __throw_length_error(const char* what) { fail(what); }
void __throw_out_of_range(const char* what) { fail(what); }
void __throw_out_of_range_fmt(const char* what, ...) { fail(what); }
void __throw_runtime_error(const char* what) { fail(what); }
void __throw_range_error(const char* what) { fail(what); }
void __throw_overflow_error(const char* what) { fail(what); }
void __throw_underflow_error(const char* what) { fail(what); }
// GCOVR_EXCL_STOP
}  // namespace std
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cert-dcl58-cpp,cert-dcl50-cpp,misc-use-internal-linkage)
