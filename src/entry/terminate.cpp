// What ends the process when an exception escapes: in this program only a
// failed allocation inside the standard library. The library's own handler
// demangles the type name, which links a demangler (a third of the binary)
// and its relocations into every start; the what() text says as much.

#include <cstdlib>
#include <err.h>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    if (std::current_exception()) {
        try {
            throw;
        } catch (const std::exception& e) {
            warnx("terminate called after an uncaught exception: %s", e.what());
        } catch (...) {
            warnx("terminate called after an uncaught exception");
        }
    } else {
        warnx("terminate called without an active exception");
    }
    std::abort();
}

}  // namespace __gnu_cxx
