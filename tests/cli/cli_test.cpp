// Runs the built voxmol in a fresh temporary folder and compares standard output, the exit status and
// every file the run writes, byte for byte, with the expected files of a case folder:
//   data/cli/<case>/args             arguments after the program name, one per line
//   data/cli/<case>/input/           files present before the run
//   data/cli/<case>/expected/stdout, expected/exit_status, expected/files/
// The seconds of the "Time to read the data file" line are the only text not compared.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_run.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> case_names() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(VOXMOL_TEST_DATA) / "cli")) {
        if (entry.is_directory()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> read_args(const fs::path& file) {
    std::vector<std::string> args;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        args.push_back(line);
    return args;
}

class CliCase : public ::testing::TestWithParam<std::string> {};

TEST_P(CliCase, MatchesExpectedRun) {
    const fs::path dir = fs::path(VOXMOL_TEST_DATA) / "cli" / GetParam();
    const auto args = read_args(dir / "args");
    std::vector<std::pair<std::string, std::string>> inputs;
    if (fs::exists(dir / "input")) {
        for (const auto& entry : fs::directory_iterator(dir / "input")) {
            inputs.emplace_back(entry.path().filename().string(), clitest::read_file(entry.path()));
        }
    }
    const clitest::CliRun run = clitest::run_voxmol(args, inputs);

    EXPECT_EQ(clitest::mask_seconds(run.out),
              clitest::mask_seconds(clitest::read_file(dir / "expected/stdout")));
    EXPECT_EQ(run.status, std::stoi(clitest::read_file(dir / "expected/exit_status")));

    std::set<std::string> expected_files;
    if (fs::exists(dir / "expected/files")) {
        for (const auto& entry : fs::directory_iterator(dir / "expected/files")) {
            const std::string name = entry.path().filename().string();
            expected_files.insert(name);
            ASSERT_TRUE(run.written.count(name)) << "missing output file " << name;
            EXPECT_EQ(run.written.at(name), clitest::read_file(entry.path())) << "file " << name;
        }
    }
    for (const auto& [name, content] : run.written) {
        EXPECT_TRUE(expected_files.count(name)) << "unexpected output file " << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Examples, CliCase, ::testing::ValuesIn(case_names()), [](const auto& info) {
    std::string n = info.param;
    for (char& c : n) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return n;
});

}  // namespace
