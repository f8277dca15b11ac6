// Line-wise reading of small text files (/proc, /etc/passwd).
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <cstdlib>

// Calls `take` with each line of the file at `path`, its newline dropped,
// until it returns true. False when the file cannot be opened or read.
template <typename Take>
bool for_each_line(const char* path, Take take) {
    FILE* file = std::fopen(path, "re");
    if (!file) return false;
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t length = 0;
    bool done = false;
    while (!done && (length = getline(&line, &capacity, file)) > 0) {
        if (line[length - 1] == '\n') line[length - 1] = '\0';
        done = take(line);
    }
    const bool failed = !done && std::ferror(file);
    std::free(line);
    std::fclose(file);
    return !failed;
}
