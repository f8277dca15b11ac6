// Every listed table's rows as GoogleTest cases, and their time limits for CTest.
#include <cctype>
#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <set>

#include "table.h"

namespace devroot {

namespace {

struct Listed {
    const char* suite;
    const char* name;
    Table (*make)();
    const char* file;
    int line;
};

std::vector<Listed>& listed() {
    static std::vector<Listed> tables;  // filled during static initialisation, in any order of files
    return tables;
}

// Each registered case's full name and time limit.
std::vector<std::pair<std::string, int>>& limits() {
    static std::vector<std::pair<std::string, int>> cases;
    return cases;
}

// An argument as a case's name shows it: letters and digits as they are,
// the rest spelt out, so that "-1" and "1", "" and " " stay apart.
std::string spelt(const std::string& arg) {
    static const std::map<char, std::string> words = {{'-', "minus"}, {'+', "plus"}, {' ', "space"},
                                                      {'.', "dot"},   {'/', "slash"}, {'\n', "newline"},
                                                      {'\t', "tab"},  {'_', "_"}};
    if (arg.empty()) return "empty";
    std::string text;
    for (char c : arg.substr(0, 24)) {
        const auto word = words.find(c);
        if (std::isalnum(static_cast<unsigned char>(c))) text += c;
        else if (word != words.end()) text += word->second;
        else {
            static const char hex[] = "0123456789abcdef";
            text.push_back('x');
            text.push_back(hex[(c >> 4) & 15]);
            text.push_back(hex[c & 15]);
        }
    }
    return text;
}

// A name GoogleTest's filter and CTest's -R take as it is: letters, digits
// and underscores. From the label, every other character an underscore; from
// the arguments, each spelt out.
std::string case_name(const Row& row) {
    std::string name;
    if (row.label.empty())
        for (const std::string& arg : row.args) {
            if (!name.empty()) name += '_';
            name += spelt(arg);
        }
    for (std::size_t i = 0; i < row.label.size(); ++i) {
        const auto alnum = [&](std::size_t at) {
            return at < row.label.size() && std::isalnum(static_cast<unsigned char>(row.label[at]));
        };
        // A sign stays: "doom -5" is not "doom 5".
        if (row.label[i] == '-' && (i == 0 || !alnum(i - 1)) && alnum(i + 1) && std::isdigit(row.label[i + 1]))
            name += "minus";
        else if (alnum(i)) name += row.label[i];
        else if (!name.empty() && name.back() != '_') name += '_';
    }
    if (name.size() > 80) name.resize(80);
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name.empty() ? "no_arguments" : name;
}

class RowCase : public testing::Test {
  public:
    RowCase(const Table& table, const Row& row) : table_(table), row_(row) {}
    void TestBody() override { run_row(table_, row_); }

  private:
    const Table& table_;
    const Row& row_;
};

}  // namespace

bool list_table(const char* suite, const char* name, Table (*make)(), const char* file, int line) {
    listed().push_back({suite, name, make, file, line});
    return true;
}

int register_tables() {
    static std::deque<Table> tables;  // the cases refer to them for the whole run
    int errors = 0;
    for (const Listed& l : listed()) {
        const Table& table = tables.emplace_back(l.make());
        std::set<std::string> names;
        for (const Row& row : table.rows) {
            const std::string test = std::string(l.name) + "/" + case_name(row);
            if (!names.insert(test).second) {
                std::fprintf(stderr, "%s:%d: two rows of %s.%s are named %s: give one a label\n", l.file, l.line,
                             l.suite, l.name, test.c_str());
                ++errors;
                continue;
            }
            // Declared as the plain fixture, so that a suite may hold rows and TEST()s alike.
            testing::RegisterTest(l.suite, test.c_str(), nullptr, nullptr, l.file, l.line,
                                  [&table, &row]() -> testing::Test* { return new RowCase(table, row); });
            limits().emplace_back(std::string(l.suite) + "." + test, bound(row));
        }
    }
    return errors;
}

void write_time_limits(const std::string& path) {
    std::ofstream out(path);
    for (const auto& [name, seconds] : limits())
        out << "set_tests_properties([==[" << name << "]==] PROPERTIES TIMEOUT " << seconds << ")\n";
}

}  // namespace devroot
