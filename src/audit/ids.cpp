#include "audit/ids.h"

#include <cstring>

std::optional<Id> read_id(const char*& p) {
    const char* start = p;
    std::uint64_t value = 0;
    for (; *p >= '0' && *p <= '9' && value <= NO_ID; ++p) value = value * 10 + static_cast<unsigned>(*p - '0');
    if (p == start || value > NO_ID) return std::nullopt;
    return static_cast<Id>(value);
}

void add_range(IdMap& map, const char* line) {
    Id fields[3];  // inside, outside, count
    for (Id& field : fields) {
        while (*line == ' ') ++line;
        const std::optional<Id> id = read_id(line);
        if (!id) return;
        field = *id;
    }
    if (map.count < ID_MAP_MAX_RANGES) map.ranges[map.count++] = {fields[0], fields[1], fields[2]};
}

std::optional<Id> outside_id(const IdMap& map, Id id) {
    if (id == NO_ID) return std::nullopt;
    for (std::size_t i = 0; i < map.count; ++i) {
        const IdRange& range = map.ranges[i];
        if (id < range.inside || id - range.inside >= range.count) continue;
        const Id outside = range.outside + (id - range.inside);
        if (outside == 0) return std::nullopt;
        return outside;
    }
    return std::nullopt;
}

std::optional<std::string_view> account_name(const char* line, Id uid) {
    const char* name_end = std::strchr(line, ':');
    const char* password_end = name_end ? std::strchr(name_end + 1, ':') : nullptr;
    if (!password_end) return std::nullopt;
    const char* p = password_end + 1;
    const std::optional<Id> id = read_id(p);
    if (!id || *p != ':' || *id != uid) return std::nullopt;
    return std::string_view(line, static_cast<std::size_t>(name_end - line));
}
