// Helpers shared by the unit tests.
#ifndef VOXMOL_TESTS_TEST_UTIL_H
#define VOXMOL_TESTS_TEST_UTIL_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

// Runs `call` with standard output sent to standard error. err reports on standard output and a death
// test reads standard error: a dying child that calls this lets the report itself be checked.
template <typename Call>
void reporting_on_stderr(Call call) {
    std::fflush(stdout);
    ::dup2(2, 1);
    call();
}

// Expects `statement` to end the process through the fatal error report (exit status 1) with a message
// matching `regex`. The report goes to standard output, which the death test's child sends to standard
// error, where the death test looks for it.
#define EXPECT_FATAL(statement, regex) \
    EXPECT_EXIT(reporting_on_stderr([&] { statement; }), ::testing::ExitedWithCode(1), regex)

#endif  // VOXMOL_TESTS_TEST_UTIL_H
