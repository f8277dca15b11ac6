#include "common/out_of_memory.h"

#include <cstdlib>
#include <err.h>

void out_of_memory() {
    warnx("out of memory");
    std::abort();
}
