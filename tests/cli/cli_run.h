// Runs the built voxmol as a user would: in a fresh temporary folder holding the given input files,
// capturing standard output, standard error, the exit status and every file the run writes.
#ifndef VOXMOL_TESTS_CLI_RUN_H
#define VOXMOL_TESTS_CLI_RUN_H

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace clitest {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_file(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// True when `out` holds `line` as a whole line.
inline bool has_line(const std::string& out, const std::string& line) {
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

inline bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The block a fatal error prints.
inline std::string fatal(const std::string& message, const std::string& where = "MAIN:VOXDEN") {
    return "\n>ERROR IN " + where + "\n>ERRROR : " + message + "\n\n";
}

// `text` as one gzip member, as gzip writes it.
inline std::string gzip(const std::string& text) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&z, text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (r != Z_STREAM_END) throw std::runtime_error("deflate failed");
    return out;
}

// The elapsed seconds are the one part of standard output that may differ between runs.
inline std::string mask_seconds(const std::string& out) {
    static const std::regex seconds("Time to read the data file : +[0-9]+ sec");
    return std::regex_replace(out, seconds, "Time to read the data file : N sec");
}

// The words of VOXMOL_CLI_WRAPPER, empty when it is not set.
inline std::vector<std::string> wrapper_words() {
    std::vector<std::string> words;
    if (const char* w = std::getenv("VOXMOL_CLI_WRAPPER")) {
        std::istringstream in(w);
        for (std::string word; in >> word;)
            words.push_back(word);
    }
    return words;
}

// True when a tool beside voxmol may write notes of its own to standard error: a wrapper such as
// valgrind, or AddressSanitizer in a sanitizer build, which notes an allocation it could not meet.
inline bool tool_notes_possible() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return !wrapper_words().empty();
}

struct CliRun {
    std::string out;                             // standard output
    std::string err;                             // standard error
    int status = -1;                             // exit status, or -1 when killed by a signal
    std::map<std::string, std::string> written;  // files created or changed by the run, by relative name
};

// Runs voxmol with `args` (after the program name) in a new folder that holds `inputs` (relative name,
// content); `prepare`, when given, may add to the folder before the run. The folder is removed afterwards.
inline CliRun run_voxmol(const std::vector<std::string>& args,
                         const std::vector<std::pair<std::string, std::string>>& inputs,
                         const std::function<void(const fs::path&)>& prepare = nullptr) {
    std::string templ = (fs::temp_directory_path() / "voxmol-cli-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    const fs::path dir = templ;
    for (const auto& [name, content] : inputs)
        write_file(dir / name, content);
    if (prepare) prepare(dir);

    const fs::path out_file = dir.parent_path() / (dir.filename().string() + ".out");
    const fs::path err_file = dir.parent_path() / (dir.filename().string() + ".err");
    // VOXMOL_CLI_WRAPPER (for example "valgrind -q --error-exitcode=99") runs the binary under a tool.
    std::vector<std::string> copies = wrapper_words();
    copies.push_back(VOXMOL_BINARY);
    copies.insert(copies.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::chdir(dir.c_str()) != 0) ::_exit(127);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);

    CliRun run;
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    run.out = read_file(out_file);
    run.err = read_file(err_file);
    std::map<std::string, std::string> before(inputs.begin(), inputs.end());
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = fs::relative(entry.path(), dir).string();
        std::string content = read_file(entry.path());
        const auto it = before.find(name);
        if (it == before.end() || it->second != content) run.written[name] = std::move(content);
    }
    fs::remove_all(dir);
    fs::remove(out_file);
    fs::remove(err_file);
    return run;
}

}  // namespace clitest

#endif  // VOXMOL_TESTS_CLI_RUN_H
