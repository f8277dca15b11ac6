// The black-box suite's entry: each table row becomes a case before
// GoogleTest runs or lists them. `--time-limits=FILE` also writes each row's
// time limit there for CTest.
#include <cstring>

#include "table.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (devroot::register_tables() != 0) return 1;
    constexpr char LIMITS[] = "--time-limits=";
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], LIMITS, sizeof LIMITS - 1) == 0) {
            devroot::write_time_limits(argv[i] + sizeof LIMITS - 1);
            return 0;
        }
    return RUN_ALL_TESTS();
}
