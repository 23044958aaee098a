#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "string_tool2.h"

namespace {

using Cleaner = int (*)(std::string_view, std::string&);

// Runs a cleaner that changes its input in place; a return of -99 says the input was not changed to the
// result.
template <int (*Fn)(std::string&, std::string&)>
int in_place(std::string_view in, std::string& out) {
    std::string text(in);
    const int ret = Fn(text, out);
    return text == out ? ret : -99;
}

TEST(StringClean, CleanersGiveResultAndReturn) {
    const std::string long_name = std::string(20000, ' ') + "N1";
    const struct {
        const char* name;
        Cleaner fn;
        std::string in, out;
        int ret;
    } cases[] = {
        {"delsp blanks, line end and tab", delsp, " C A\n\tB \r", "CA\tB\r", 5},
        {"delsp past any work buffer", delsp, long_name + "\n", "N1", 2},
        {"delnl CRLF ending", delnl, "ATOM 1\r\n", "ATOM 1", 6},
        {"delnl inner line ends, blanks kept", delnl, "a\nb\rc ", "abc ", 4},
        {"delquote quoted name", delquote, "'CA'", "CA", 2},
        {"delquote lone apostrophe", delquote, "'", "", 0},
        {"delquote apostrophe at start only", delquote, "'CA", "'CA", 3},
        {"delquote double quotes untouched", delquote, "\"CA\"", "\"CA\"", 4},
        {"delspbeg leading blanks", delspbeg, "   N1 ", "N1 ", 0},
        {"delspbeg leading tab kept", delspbeg, "\t N1", "\t N1", 0},
        {"delspbeg past any work buffer", delspbeg, long_name, "N1", 0},
        {"del0beg 007", in_place<del0beg>, "007", "7", 0},
        {"del0beg 0.50", in_place<del0beg>, "0.50", ".50", 0},
        {"del0beg only zeros", in_place<del0beg>, "000", "", 0},
        {"del0beg -05", in_place<del0beg>, "-05", "-05", 0},
        {"delspdotbeg mixed", in_place<delspdotbeg>, " . .5.", "5.", 0},
        {"delspdotbeg only dots", in_place<delspdotbeg>, "...", "", 0},
        {"delspdotbeg tab stops", in_place<delspdotbeg>, ".\t.5", "\t.5", 0},
    };
    for (const auto& c : cases) {
        std::string out = "stale";
        EXPECT_EQ(c.fn(c.in, out), c.ret) << c.name;
        EXPECT_EQ(out, c.out) << c.name;
        std::string same = c.in;  // the output may be the input itself
        c.fn(same, same);
        EXPECT_EQ(same, c.out) << c.name << " (output is the input)";
    }
}

TEST(StringClean, DelspendDropsLastCharAndBlanksAndTraces) {
    const struct {
        std::string in, out;
        int ret;
    } cases[] = {
        {"CA  \n", "CA", 1}, {"CAB", "CA", 1},       {"C", "", -1},         {"   \n", "", -1},
        {"", "", -1},        {" A B \n", " A B", 3}, {"CA\t\n", "CA\t", 2},
    };
    for (const auto& c : cases) {
        std::string out = "stale";
        testing::internal::CaptureStdout();
        const int ret = delspend(c.in, out);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), " !" + c.in + "!" + c.out + "!  j=0   \n") << c.in;
        EXPECT_EQ(ret, c.ret) << c.in;
        EXPECT_EQ(out, c.out) << c.in;
    }
    std::string same = "CA  \n";  // the trace shows the input even when the output overwrites it
    testing::internal::CaptureStdout();
    delspend(same, same);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " !CA  \n!CA!  j=0   \n");
    EXPECT_EQ(same, "CA");
}

TEST(StringClean, ItocGivesOneDigitOrCodeZero) {
    const std::pair<int, char> cases[] = {
        {0, '0'}, {9, '9'}, {10, '\0'}, {-1, '\0'}, {-2147483647 - 1, '\0'}};
    for (const auto& [val, c] : cases)
        EXPECT_EQ(itoc(val), c) << val;
}

TEST(StringCleanDeathTest, Err1PrintsTheBlockAndFailsTheProcess) {
    // The block goes to standard output; it is sent to the error stream here so the check can read it.
    EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), err1("SUB:DELSP", "no room")),
                ::testing::ExitedWithCode(1), "^\n>ERROR IN SUB:DELSP\n>ERRROR : no room\n\n$");
}

}  // namespace
