// The program's own end for a failed allocation.
#pragma once

// Ends the process as an uncaught std::bad_alloc would, "app: out of memory"
// then SIGABRT: the program is built without exception support, so every
// allocation that fails, in the library or in our own code, ends here.
[[noreturn]] void out_of_memory();
