#include "audit/log_text.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::string_view CUT = "...";

// One byte as the line shows it.
std::string_view shown(unsigned char c, char (&piece)[5]) {
    constexpr char HEX[] = "0123456789abcdef";
    if (c == '\\') return "\\\\";
    if (c > ' ' && c < 0x7f) {
        piece[0] = static_cast<char>(c);
        return {piece, 1};
    }
    piece[0] = '\\', piece[1] = 'x', piece[2] = HEX[c >> 4], piece[3] = HEX[c & 15];
    return {piece, 4};
}

}  // namespace

void clear(LogText& text, std::size_t end) {
    text.used = 0;
    text.end = end;
    text.data[0] = '\0';
}

void append(LogText& text, std::string_view piece) {
    const std::size_t n = std::min(piece.size(), text.end - text.used);
    std::memcpy(text.data + text.used, piece.data(), n);
    text.used += n;
    text.data[text.used] = '\0';
}

void append_number(LogText& text, unsigned long value) {
    char digits[20];
    std::size_t start = sizeof digits;
    do {
        digits[--start] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    append(text, std::string_view(digits + start, sizeof digits - start));
}

void append_escaped(LogText& text, const char* piece, std::size_t limit) {
    const std::size_t cap = std::min(text.end, text.used + limit);
    if (text.used + CUT.size() > cap) return;
    std::size_t cut = text.used;  // where "..." goes should the rest not fit
    for (const char* p = piece; *p != '\0'; ++p) {
        char buffer[5];
        const std::string_view s = shown(static_cast<unsigned char>(*p), buffer);
        if (text.used + s.size() > cap) {
            text.used = cut;
            return append(text, CUT);
        }
        append(text, s);
        if (text.used + CUT.size() <= cap) cut = text.used;
    }
}
