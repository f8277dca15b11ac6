// Sanitizer and coverage builds only: the library's throwers that their
// less optimised code refers to beside the product's (src/entry/runtime.cpp),
// replaced for the same reason: the library's own would bring the exception
// machinery in. Both end as the product's length thrower does.

#include <bits/functexcept.h>

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cert-dcl58-cpp,misc-use-internal-linkage)
namespace std {
void __throw_bad_array_new_length() { __throw_length_error("bad array new length"); }
void __throw_out_of_range_fmt(const char* what, ...) { __throw_length_error(what); }
}  // namespace std
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cert-dcl58-cpp,misc-use-internal-linkage)
