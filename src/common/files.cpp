#include "common/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

LinesEnd read_lines(FILE* stream, LineTaker take, void* context) {
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t length = 0;
    bool done = false;
    while (!done && (length = getline(&line, &capacity, stream)) > 0) {
        if (line[length - 1] == '\n') line[length - 1] = '\0';
        done = take(context, line);
    }
    std::free(line);
    if (done || std::feof(stream)) return LinesEnd::Done;
    return std::ferror(stream) ? LinesEnd::ReadError : LinesEnd::NoMemory;
}

LinesEnd read_lines(const char* path, LineTaker take, void* context) {
    FILE* file = std::fopen(path, "re");
    if (!file) return LinesEnd::ReadError;
    const LinesEnd end = read_lines(file, take, context);
    std::fclose(file);
    return end;
}

bool copy_line(const char* path, const char* prefix, char* text, std::size_t size) {
    const std::size_t prefix_length = std::strlen(prefix);
    text[0] = '\0';
    return for_each_line(path, [&](const char* line) {
               if (!std::string_view(line).starts_with(std::string_view(prefix, prefix_length))) return false;
               const std::size_t kept = std::min(std::strlen(line + prefix_length), size - 1);
               std::memcpy(text, line + prefix_length, kept);
               text[kept] = '\0';
               return true;
           }) == LinesEnd::Done;
}

WriteEnd write_whole(const char* path, const char* data, std::size_t size) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd == -1) return WriteEnd::Open;
    const ssize_t written = write(fd, data, size);
    const int error = errno;
    const bool closed = close(fd) == 0;
    if (written == -1) {
        errno = error;
        return WriteEnd::Write;
    }
    if (static_cast<std::size_t>(written) < size) return WriteEnd::Short;
    return closed ? WriteEnd::Done : WriteEnd::Close;
}
