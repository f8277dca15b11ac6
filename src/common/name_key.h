// A non-owning name over a string literal, and lookups in the program's
// two constant, name-sorted tables.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

struct NameKey {
    std::size_t length;
    const char* text;

    constexpr NameKey(const char* bytes, std::size_t size) : length(size), text(bytes) {}
    template <std::size_t N>
    constexpr NameKey(const char (&literal)[N]) : length(N - 1), text(literal) {}  // NOLINT: implicit on purpose

    constexpr std::string_view view() const { return {text, length}; }
};

// Bytes compared as unsigned over the common length; then the shorter first.
constexpr bool operator<(NameKey a, NameKey b) { return a.view() < b.view(); }
constexpr bool operator==(NameKey a, NameKey b) { return a.view() == b.view(); }

NameKey name_key(const char* text);

// Tables are std::arrays of entries with a `name` member, strictly sorted.
template <typename Entry, std::size_t N>
constexpr bool strictly_sorted(const std::array<Entry, N>& table) {
    for (std::size_t i = 1; i < N; ++i)
        if (!(table[i - 1].name < table[i].name)) return false;
    return true;
}

template <typename Entry, std::size_t N>
const Entry* find_by_name(const std::array<Entry, N>& table, NameKey key) {
    auto it = std::lower_bound(table.begin(), table.end(), key,
                               [](const Entry& e, NameKey k) { return e.name < k; });
    return it != table.end() && it->name == key ? &*it : nullptr;
}

// "\n  name" for every entry, in table order, as a zero-terminated constant:
// the list part of usage texts, made by the compiler rather than at each call.
template <const auto& Table>
constexpr auto indented_names() {
    constexpr std::size_t size = [] {
        std::size_t n = 1;
        for (const auto& e : Table) n += 3 + e.name.length;
        return n;
    }();
    std::array<char, size> text{};
    std::size_t at = 0;
    for (const auto& e : Table) {
        for (const char c : std::string_view("\n  ")) text[at++] = c;
        for (const char c : e.name.view()) text[at++] = c;
    }
    return text;
}
