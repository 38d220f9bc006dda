#include "core/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    const char *name;
    std::string commandLine;
    const char *expected; // nullptr: no argument
};

const std::string kLong600(600, 'x');

const Case kCases[] = {
    {"path alone", "C:\\brelvane.exe", nullptr},
    {"path and one space", "brelvane.exe ", nullptr},
    {"three spaces before the argument", "brelvane.exe   bank.syx", "bank.syx"},
    {"only the first argument", "brelvane.exe a.syx b.syx", "a.syx"},
    {"quoted path and quoted argument", "\"C:\\My Tools\\brelvane.exe\" \"D:\\My Banks\\dump 1.syx\"",
     "D:\\My Banks\\dump 1.syx"},
    {"quoted path alone", "\"C:\\My Tools\\brelvane.exe\"", nullptr},
    {"argument right after the closing quote", "\"brelvane.exe\"bank.syx", "bank.syx"},
    {"unclosed quote in the path", "\"C:\\My Tools\\brelvane.exe bank.syx", nullptr},
    {"unclosed quote in the argument", "brelvane.exe \"a b.syx", "a b.syx"},
    {"empty quoted argument", "brelvane.exe \"\"", nullptr},
    {"quote inside an unquoted argument", "brelvane.exe a\"b c", "a\"b"},
    {"tab does not separate", "brelvane.exe\tbank.syx", nullptr},
    {"tab before the first space", "brelvane.exe\ta.syx b.syx", "b.syx"},
    {"tab starts the argument", "brelvane.exe \tbank.syx", "\tbank.syx"},
    {"leading space: the program path is the argument", " brelvane.exe bank.syx", "brelvane.exe"},
    {"empty command line", "", nullptr},
    {"long argument", "brelvane.exe " + kLong600, kLong600.c_str()},
};

class FirstArgument : public ::testing::TestWithParam<Case> {};

TEST_P(FirstArgument, IsFoundAsTheStartUpNameTakesIt)
{
    const Case &c = GetParam();
    std::vector<char> line(c.commandLine.begin(), c.commandLine.end());
    line.push_back('\0');
    const char *argument = FindFirstArgument(line.data());
    if (c.expected == nullptr) {
        EXPECT_EQ(argument, nullptr);
    } else {
        ASSERT_NE(argument, nullptr);
        EXPECT_EQ(std::string(argument), c.expected);
        // The argument lies inside the command line, which was shortened in place.
        EXPECT_GE(argument, line.data());
        EXPECT_LT(argument, line.data() + line.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FirstArgument, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             std::string name;
                             for (const char *p = info.param.name; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

} // namespace
