// Sanitizer builds only: options built into the app, since the device roots
// hand it no ASAN_OPTIONS and a set-user-ID start must not depend on one.
// - detect_leaks=0: the leak check at exit needs a thread of its own, which a
//   caller's RLIMIT_NPROC or a failing fork denies; it would then replace the
//   app's own exit status and message with its fatal error.
// - verify_asan_link_order=0: a library the caller preloads may come first.
// - exitcode=86: a sanitizer report never passes for an ordinary status.

// The runtimes look these reserved names up.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0:verify_asan_link_order=0:exitcode=86";
}
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1:exitcode=86"; }
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
