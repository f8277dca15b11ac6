// Small files read line by line (/proc, /etc/passwd, the supervisor's
// configuration) and written whole (/proc, sysfs).
#pragma once

#include <cstddef>
#include <cstdio>

// How a reading of lines ended.
enum class LinesEnd { Done, ReadError, NoMemory };

// Calls `take(context, line)` with each line of `stream`, its newline
// dropped, until it returns true or the lines end. A getline that finds no
// memory for a line marks neither end of file nor an error: that is NoMemory.
using LineTaker = bool (*)(void* context, char* line);
LinesEnd read_lines(FILE* stream, LineTaker take, void* context);

// The same for the file at `path`, opened close-on-exec; ReadError, with
// errno set, where it cannot be opened.
LinesEnd read_lines(const char* path, LineTaker take, void* context);

// read_lines with a callable: `take(line)`.
template <typename Source, typename Take>
LinesEnd for_each_line(Source source, Take take) {
    return read_lines(
        source, [](void* context, char* line) { return (*static_cast<Take*>(context))(line); }, &take);
}

// The rest of the first line of the file at `path` that begins with `prefix`
// ("" for the first line), cut to `size` with its terminating zero; "" where
// none does. False, with errno set, where the file cannot be read.
bool copy_line(const char* path, const char* prefix, char* text, std::size_t size);

// Which step of a whole write failed, errno telling why.
enum class WriteEnd { Done, Open, Write, Short, Close };

// Writes `size` bytes to the existing file at `path` in one write, opened
// write-only and close-on-exec: sysfs and /proc take a value per write.
WriteEnd write_whole(const char* path, const char* data, std::size_t size);
