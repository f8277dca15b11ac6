#include "common/error_text.h"

#include <cstdio>

ErrorText error_text() {
    ErrorText error{};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
    std::snprintf(error.text, sizeof error.text, "%m");
#pragma GCC diagnostic pop
    return error;
}
