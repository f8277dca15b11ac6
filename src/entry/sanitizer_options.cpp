// Sanitizer builds only: the defaults the runtime reads before main, since
// the app ignores its caller's environment (ASAN_OPTIONS included).
// - detect_leaks=0: the leak check at exit needs a thread of its own, which a
//   caller's RLIMIT_NPROC or a failing fork denies; it would then replace the
//   app's own exit status and message with its fatal error.
// - verify_asan_link_order=0: a library the caller preloads may come first.
// - exitcode=86: a sanitizer report never passes for an ordinary status.

extern "C" const char* __asan_default_options() {
    return "detect_leaks=0:verify_asan_link_order=0:exitcode=86";
}
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1:exitcode=86"; }
