// How the converter takes its input as a whole, before any format's reader: gzip-compressed files, the
// format line, and the --help and --version command lines.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_run.h"

namespace {

using clitest::CliRun;
using clitest::ends_with;
using clitest::fatal;
using clitest::gzip;
using clitest::has_line;

const std::string kGrid =
    "! four points\n"
    "0 0 0 0 0 3 4 3 1 1 4 0 0 0 0 0 3\n"
    "0.5\n2.0\n-1.0\n1.0\n";

TEST(CliInput, GzipCompressedFilesReadAsTheirText) {
    const CliRun plain = clitest::run_voxmol({"grid.txt"}, {{"grid.txt", kGrid}});
    ASSERT_EQ(plain.status, 0) << plain.out;
    const std::string half = kGrid.substr(0, kGrid.size() / 2);
    struct Case {
        std::string name;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"one member", gzip(kGrid)},
        {"two members, as cat of two gzip files", gzip(half) + gzip(kGrid.substr(half.size()))},
        {"padding after the member", gzip(kGrid) + std::string(512, '\0')},
    };
    for (const Case& c : cases) {
        const CliRun r = clitest::run_voxmol({"grid.gz"}, {{"grid.gz", c.bytes}});
        EXPECT_EQ(r.status, 0) << c.name << "\n" << r.out;
        EXPECT_EQ(r.written.at("grid.pdb"), plain.written.at("grid.pdb")) << c.name;
        // The same messages, with one more line naming the format.
        std::string expected = clitest::mask_seconds(plain.out);
        const std::string header = "I am reading the data file header:  grid.txt  ...........\n";
        expected.replace(
            expected.find(header), header.size(),
            "I am reading the data file header:  grid.gz  ...........\nGrid format: voxmol text, gzip\n");
        expected.replace(expected.find("data = grid.txt"), 15, "data = grid.gz");
        EXPECT_EQ(clitest::mask_seconds(r.out), expected) << c.name;
    }
}

TEST(CliInput, BrokenGzipStreamsAreFatal) {
    const std::string good = gzip(kGrid);
    std::string corrupt = good;
    corrupt[good.size() - 6] ^= 0x55;  // the stored CRC no longer matches
    std::string bad_data = good;
    bad_data[12] = static_cast<char>(0xff);  // an invalid deflate block type
    struct Case {
        std::string name;
        std::string bytes;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"truncated", good.substr(0, good.size() / 2),
         "The gzip-compressed data file is corrupt or truncated (it ends inside the compressed data)"},
        {"wrong checksum", corrupt,
         "The gzip-compressed data file is corrupt or truncated (incorrect data check)"},
        {"bad deflate data", bad_data, "The gzip-compressed data file is corrupt or truncated"},
        {"the magic bytes alone", "\x1f\x8b",
         "The gzip-compressed data file is corrupt or truncated (it ends inside the compressed data)"},
    };
    for (const Case& c : cases) {
        const CliRun r = clitest::run_voxmol({"grid.gz", "-l", "1"}, {{"grid.gz", c.bytes}});
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_NE(r.out.find(fatal(c.message).substr(0, fatal(c.message).size() - 2)), std::string::npos)
            << c.name << "\n"
            << r.out;
        EXPECT_TRUE(r.written.empty()) << c.name;
    }
}

TEST(CliInput, AFailureWhileReadingKeepsTheEarlierOutput) {
    // Records are written while the values are read: a file that breaks off in its values must still
    // leave no new output, and an output of an earlier run as it was.
    std::string grid = "0 0 0 1 1 1 0 0 100 100 100 0 0 0 1 1 1\n";
    for (int v = 0; v < 1000000; ++v)
        grid += "0.5\n";
    const std::string bytes = gzip(grid);
    const std::string truncated = bytes.substr(0, bytes.size() * 3 / 4);
    for (bool earlier : {false, true}) {
        std::vector<std::pair<std::string, std::string>> files = {{"grid.gz", truncated}};
        if (earlier) files.push_back({"grid.pdb", "an earlier output\n"});
        const CliRun r = clitest::run_voxmol({"grid.gz", "-l", "1"}, files);
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find("corrupt or truncated"), std::string::npos) << r.out;
        EXPECT_TRUE(r.written.empty())
            << (earlier ? "with" : "without") << " an earlier output: " << r.written.begin()->first;
    }
    // The whole file, over an earlier output that only its owner may write: the new one replaces it.
    const CliRun r = clitest::run_voxmol(
        {"grid.gz", "-l", "1"}, {{"grid.gz", bytes}, {"grid.pdb", "old\n"}},
        [](const clitest::fs::path& dir) {
            clitest::fs::permissions(dir / "grid.pdb",
                                     clitest::fs::perms::owner_read | clitest::fs::perms::owner_write);
        });
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.written.size(), 1u);
    EXPECT_EQ(r.written.at("grid.pdb").size(), 201u + 1000000u * 79);  // four remarks, then the records
}

TEST(CliInput, AStopSignalWhileWritingLeavesTheEarlierOutputAndNoFile) {
    // The data arrive through a pipe, so the run is caught while it writes its temporary file (unnamed
    // where the file system allows it, a hidden name elsewhere); the signal still ends the run, and the
    // earlier output stands.
    std::string templ = (clitest::fs::temp_directory_path() / "voxmol-signal-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    const clitest::fs::path dir = templ;
    ASSERT_EQ(::mkfifo((dir / "grid.txt").c_str(), 0600), 0);
    clitest::write_file(dir / "grid.pdb", "earlier output\n");
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null < 0 || ::chdir(dir.c_str()) != 0) ::_exit(127);
        ::dup2(null, 1);
        ::execl(VOXMOL_BINARY, VOXMOL_BINARY, "grid.txt", "-l", "1", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::FILE* pipe = std::fopen((dir / "grid.txt").c_str(), "w");
    ASSERT_NE(pipe, nullptr);
    std::fputs("0 0 0 1 1 1 0 0 100 100 100 0 0 0 1 1 1\n", pipe);
    for (int v = 0; v < 200000; ++v)
        std::fputs("0.5\n", pipe);
    std::fflush(pipe);
    // The run holds a file in the folder other than the pipe and the earlier output: its temporary.
    auto writing = [&] {
        const clitest::fs::path fds = clitest::fs::path("/proc") / std::to_string(pid) / "fd";
        std::error_code ec;
        for (const auto& fd : clitest::fs::directory_iterator(fds, ec)) {
            const std::string target = clitest::fs::read_symlink(fd.path(), ec).string();
            if (target.rfind(dir.string() + "/", 0) == 0 && target.find("grid.") == std::string::npos)
                return true;
        }
        return false;
    };
    for (int wait = 0; wait < 1000 && !writing(); ++wait)
        ::usleep(10000);
    EXPECT_TRUE(writing());
    ::kill(pid, SIGTERM);
    std::fclose(pipe);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    std::vector<std::string> left;
    for (const auto& entry : clitest::fs::directory_iterator(dir))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"grid.pdb", "grid.txt"}));
    EXPECT_EQ(clitest::read_file(dir / "grid.pdb"), "earlier output\n");
    clitest::fs::remove_all(dir);
}

TEST(CliInput, HelpAndVersionOnlyAsTheOneArgument) {
    const CliRun version = clitest::run_voxmol({"--version"}, {});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "voxmol 0.1.0\n");
    const CliRun help = clitest::run_voxmol({"--help"}, {});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.find("\n                  Program VOXMOL version 0.1\n"), 0u);
    EXPECT_NE(help.out.find("usage => voxmol <datafile> \n"), std::string::npos);
    EXPECT_NE(help.out.find("  -t min max"), std::string::npos);
    EXPECT_TRUE(help.written.empty());
    // With anything after it, --help is a data file's name like any other.
    const CliRun named = clitest::run_voxmol({"--help", "-l", "1"}, {});
    EXPECT_EQ(named.status, 1);
    EXPECT_NE(named.out.find(fatal("I cannot open the input data file")), std::string::npos);
}

}  // namespace
