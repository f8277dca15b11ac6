// User ids as the kernel's /proc files and /etc/passwd write them, and how a
// user namespace's uid_map names them to its parent. Text in, values out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// A user id, 32 bits as the kernel's.
using Id = std::uint32_t;

// (uid_t)-1, the kernel's "no id": a login uid or session never set.
constexpr Id NO_ID = 0xffffffff;

// The decimal id that starts at `p`, which then points past it; nothing where
// no digit starts it or the number does not fit 32 bits.
std::optional<Id> read_id(const char*& p);

// `count` ids from `inside` on, as the parent namespace knows them: from
// `outside` on.
struct IdRange {
    Id inside;
    Id outside;
    Id count;
};

// The kernel keeps at most this many ranges in a map.
constexpr std::size_t ID_MAP_MAX_RANGES = 340;

// A uid_map as read, in its order.
struct IdMap {
    IdRange ranges[ID_MAP_MAX_RANGES];
    std::size_t count;
};

// Adds the range a line of a uid_map names: three ids, each after blanks
// ("         0       1001          1"). A line that is not, or one past the
// kernel's number of ranges, adds nothing.
void add_range(IdMap& map, const char* line);

// The id the parent namespace knows `id` by, by the first range that holds
// it; nothing where none does, or where it is the parent's 0: seen from
// inside, the parent may be a namespace of any depth, its root anyone. NO_ID
// is no id, which no range holds.
std::optional<Id> outside_id(const IdMap& map, Id id);

// The account name of a line of /etc/passwd ("user:x:1001:1001::/home/user:/bin/sh")
// whose user id is `uid`; nothing for any other line.
std::optional<std::string_view> account_name(const char* line, Id uid);
