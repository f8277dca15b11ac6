// The caller as its audit line names it: a uid_map and the id it maps, a
// passwd line's account name, the arguments with their cuts.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "audit/caller.h"
#include "audit/ids.h"

namespace {

// A map as the kernel shows it: each line "%10u %10u %10u".
const std::string ROOTLESS =  // newuidmap's, for a container of user 1001 with two subordinate ranges
    "         0       1001          1\n"
    "         1     100000      65536\n"
    "     65537     300000         10\n";

// The kernel's limit, and one range past it.
std::string many_ranges() {
    std::string text;
    for (int i = 0; i <= 340; ++i) text += std::to_string(i) + " " + std::to_string(1000 + i) + " 1\n";
    return text;
}

struct MapCase {
    const char* what;
    std::string map;
    Id id;
    std::optional<Id> expected;
};

const MapCase MAPS[] = {
    {"a range of one: its id", ROOTLESS, 0, 1001},
    {"second range, first id", ROOTLESS, 1, 100000},
    {"second range, last id", ROOTLESS, 65536, 165535},
    {"third range, first id", ROOTLESS, 65537, 300000},
    {"third range, last id", ROOTLESS, 65546, 300009},
    {"one past the last range", ROOTLESS, 65547, std::nullopt},
    {"the identity map: an id", "         0          0 4294967295\n", 1001, 1001},
    {"the identity map: its last id", "         0          0 4294967295\n", 4294967294, 4294967294},
    {"the identity map: the parent's root", "         0          0 4294967295\n", 0, std::nullopt},
    {"nested: the parent's root", "         0          0          1\n", 0, std::nullopt},
    {"a map of the parent's root elsewhere", "      1000          0          1\n", 1000, std::nullopt},
    {"no id, even where a map claims it", "4294967295 1000 1\n", NO_ID, std::nullopt},
    {"an empty map", "", 0, std::nullopt},
    {"an empty map, another id", "", 1001, std::nullopt},
    {"an id below every range", "10 20 5\n", 9, std::nullopt},
    {"a line of two ids adds nothing", "0 1001\n1 100000 65536\n", 0, std::nullopt},
    {"after a malformed line the next counts", "x 0 1\n1 100000 65536\n", 1, 100000},
    {"an id past 32 bits adds nothing", "0 4294967296 1\n", 0, std::nullopt},
    {"unpadded", "0 1001 1\n", 0, 1001},
    {"overlapping ranges, which no kernel writes: the first", "0 1001 1\n0 2002 1\n", 0, 1001},
    {"the kernel's last range", many_ranges(), 339, 1339},
    {"past the kernel's last range", many_ranges(), 340, std::nullopt},
};

IdMap map_of(const std::string& text) {
    IdMap map{};
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) add_range(map, line.c_str());
    return map;
}

TEST(OutsideId, IsThatOfTheFirstRangeHoldingTheIdButNeverTheParentsRoot) {
    for (const MapCase& c : MAPS) {
        const IdMap map = map_of(c.map);
        EXPECT_EQ(outside_id(map, c.id), c.expected) << c.what;
    }
}

struct AccountCase {
    const char* line;
    Id uid;
    std::optional<std::string> expected;
};

const AccountCase ACCOUNTS[] = {
    {"root:x:0:0:root:/root:/bin/sh", 0, "root"},
    {"root:x:0:0:root:/root:/bin/sh", 1001, std::nullopt},
    {"user:x:1001:1001::/home/user:/bin/sh", 1001, "user"},
    {"user:x:1001:1001::/home/user:/bin/sh", 1, std::nullopt},
    {"user:x:01001:1001::/home/user:/bin/sh", 1001, "user"},
    {"user::1001:", 1001, "user"},
    {":x:1001:", 1001, ""},
    {"user:x:1001", 1001, std::nullopt},
    {"user:x: 1001:", 1001, std::nullopt},
    {"user:x::0:", 0, std::nullopt},
    {"user:x:1001x:", 1001, std::nullopt},
    {"user:x:4294967296:", 0, std::nullopt},
    {"user:x:x:1001:", 1001, std::nullopt},
    {"user:x", 1001, std::nullopt},
    {"user", 1001, std::nullopt},
    {"", 0, std::nullopt},
};

TEST(AccountName, IsTheFirstFieldOfALineWithTheUidInTheThird) {
    for (const AccountCase& c : ACCOUNTS) {
        const std::optional<std::string_view> name = account_name(c.line, c.uid);
        EXPECT_EQ(name ? std::optional<std::string>(*name) : std::nullopt, c.expected) << c.line << " " << c.uid;
    }
}

const std::string A64(64, 'a');
const std::string A65(65, 'a');

std::string times(int n, const std::string& word, const std::string& between = " ") {
    std::string text;
    for (int i = 0; i < n; ++i) text += (i ? between : "") + word;
    return text;
}

struct ArgumentsCase {
    const char* what;
    std::string before;
    std::size_t end;
    std::vector<std::string> args;
    std::string expected;
};

const std::size_t END = LOG_LINE_MAX_BYTES / 2;  // the caller's half of a line

const ArgumentsCase ARGUMENTS[] = {
    {"as given", "", END, {"reboot", "0"}, "reboot 0"},
    {"an empty one", "", END, {"service", "", "x"}, "service  x"},
    {"escaped", "", END, {"a b", "\n", "\\"}, "a\\x20b \\x0a \\\\"},
    {"an argument of 64 bytes", "", END, {A64, "x"}, A64 + " x"},
    {"one of 65, cut", "", END, {A65, "x"}, std::string(61, 'a') + "... x"},
    {"six of 64 fit in 400", "", END, std::vector<std::string>(6, A64), times(6, A64)},
    {"a seventh is left out", "", END, std::vector<std::string>(7, A64), times(6, A64) + " ..."},
    // Room is kept for a whole argument and the mark, whatever the next one's length.
    {"so is a short one then", "", END, {A64, A64, A64, A64, A64, A64, "x"}, times(6, A64) + " ..."},
    {"400 from where they start", std::string(100, '-'), LOG_LINE_MAX_BYTES - 1, std::vector<std::string>(7, A64),
     std::string(100, '-') + times(6, A64) + " ..."},
    {"the line's end comes first", std::string(100, '-'), 200, {A64, A64}, std::string(100, '-') + A64 + " ..."},
    {"room for one more and the mark, to the byte", std::string(100, '-'), 233, {A64, A64},
     std::string(100, '-') + A64 + " " + A64},
    {"a byte less", std::string(100, '-'), 232, {A64, A64}, std::string(100, '-') + A64 + " ..."},
    {"the line's end cuts the first", std::string(100, '-'), 130, {A64}, std::string(100, '-') + std::string(27, 'a') + "..."},
};

TEST(AppendArguments, CutsEachTo64BytesAndAllTo400) {
    for (const ArgumentsCase& c : ARGUMENTS) {
        std::vector<char*> argv;
        for (const std::string& arg : c.args) argv.push_back(const_cast<char*>(arg.c_str()));
        LogText text{};
        clear(text, c.end);
        append(text, c.before);
        append_arguments(text, {"app", static_cast<int>(argv.size()), argv.data()});
        EXPECT_EQ(std::string(text.data, text.used), c.expected) << c.what;
    }
}

}  // namespace
