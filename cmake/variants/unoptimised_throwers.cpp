// Sanitizer and coverage builds only: the library's throwers that their
// less optimised code refers to beside the product's (src/entry/runtime.cpp),
// replaced for the same reason: the library's own would bring the exception
// machinery in.

#include <cstdlib>
#include <err.h>

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cert-dcl58-cpp,misc-use-internal-linkage)
namespace std {
void __throw_bad_array_new_length() {
    warnx("bad array new length");
    std::abort();
}
void __throw_out_of_range_fmt(const char* what, ...) {
    warnx("%s", what);
    std::abort();
}
}  // namespace std
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cert-dcl58-cpp,misc-use-internal-linkage)
