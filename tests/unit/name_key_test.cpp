#include <gtest/gtest.h>

#include <array>
#include <string>

#include "common/name_key.h"

namespace {

TEST(NameKey, OrdersBytesThenShorterFirst) {
    struct Pair {
        NameKey smaller, larger;
    };
    const Pair pairs[] = {
        {"a", "b"},           {"led", "leds"},   {"", "a"},
        {"reboot", "service"}, {"Z", "a"},       {"time", "watchdog"},
        // Bytes compare as unsigned: a high byte sorts after ASCII.
        {"z", "\xc3\xa9"},
    };
    for (const Pair& p : pairs) {
        EXPECT_TRUE(p.smaller < p.larger) << p.smaller.view() << " < " << p.larger.view();
        EXPECT_FALSE(p.larger < p.smaller) << p.larger.view();
        EXPECT_FALSE(p.smaller == p.larger);
    }
    EXPECT_TRUE(NameKey("led") == name_key("led"));
    EXPECT_FALSE(NameKey("led") < name_key("led"));
}

struct Entry {
    NameKey name;
    int value;
};
constexpr std::array<Entry, 3> TABLE{{{"doom", 1}, {"led", 2}, {"time", 3}}};
static_assert(strictly_sorted(TABLE));

TEST(NameKey, LookupIsAnExactMatchOnLengthAndBytes) {
    ASSERT_NE(find_by_name(TABLE, name_key("led")), nullptr);
    EXPECT_EQ(find_by_name(TABLE, name_key("led"))->value, 2);
    EXPECT_EQ(find_by_name(TABLE, name_key("time"))->value, 3);
    for (const char* miss : {"", "le", "leds", "LED", "led ", "zzz", "a"})
        EXPECT_EQ(find_by_name(TABLE, name_key(miss)), nullptr) << '"' << miss << '"';
    // An embedded zero ends a C argument; a key with the same prefix is no match.
    EXPECT_EQ(find_by_name(TABLE, NameKey("led\0x", 5)), nullptr);
}

TEST(NameKey, IndentedNamesListsEntriesInTableOrder) {
    constexpr auto text = indented_names<TABLE>();
    EXPECT_EQ(std::string(text.data()), "\n  doom\n  led\n  time");
    EXPECT_EQ(text.size(), sizeof("\n  doom\n  led\n  time"));
}

}  // namespace
