// The whole converter run: the input's first line holds the arguments after the data file's name
// (separated by blanks), the rest is the data file. Runs in a private temporary folder.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "dx/grid.h"
#include "dx/uhbdio.h"
#include "dx/voxmol.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/voxmol-convert-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::setup();
    const std::string bytes = fuzz::text(data, size);
    const std::size_t nl = bytes.find('\n');
    const std::string arg_line = bytes.substr(0, nl);
    const std::string file = nl == std::string::npos ? std::string() : bytes.substr(nl + 1);
    if (arg_line.find('\0') != std::string::npos) return 0;  // a command line holds no NUL byte

    // Large grids are legitimate but too slow to convert millions of times; small ones reach every path.
    if (std::FILE* probe = fmemopen(const_cast<char*>(file.data()), file.size(), "r")) {
        bool large = false;
        fuzz::run([&] {
            Tuhbdgrd g{};
            load_header(probe, &g, 0);
            const auto points = grid_points(g);
            large = points && *points > (1u << 12);
        });
        std::fclose(probe);
        if (large) return 0;
    }

    std::vector<std::string> args = {"voxmol", "grid.txt"};
    std::istringstream words(arg_line);
    for (std::string w; words >> w;)
        args.push_back(w);
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);

    if (std::FILE* f = std::fopen("grid.txt", "w")) {
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    }
    fuzz::run([&] { voxmol_main(static_cast<int>(args.size()), argv.data()); });
    std::filesystem::remove("grid.pdb");
    return 0;
}
