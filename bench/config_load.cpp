// config_load: how long the supervisor takes to read its configuration file,
// and the memory the program list then holds. Run where the file is at its
// fixed path (in a device root). Prints: records, milliseconds, peak RSS KiB.
#include <sys/resource.h>

#include <cstdio>
#include <time.h>
#include <vector>

#include "supervisor/config.h"

int main() {
    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::vector<SupervisedProgram> list;
    load_watchdog_config(list);
    clock_gettime(CLOCK_MONOTONIC, &end);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    double ms = static_cast<double>(end.tv_sec - start.tv_sec) * 1e3 +
                static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e6;
    std::printf("%zu %.2f %ld\n", list.size(), ms, usage.ru_maxrss);
    return 0;
}
