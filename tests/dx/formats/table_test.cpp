// The format table over the fuzz targets' seed files, one folder of seeds per format: every format's
// detector takes its own seeds and no other format's, recognition picks the seed's own format, and the
// seed reads whole through the run's reading step (a seed named "refused..." must be refused instead).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "common/fatal.h"
#include "common/text_out.h"
#include "dx/formats/format.h"
#include "dx/formats/read.h"

namespace {

namespace fs = std::filesystem;

// The seed folders of the fuzz targets of each format's reader.
const std::pair<const char*, std::string_view> kSeedFolders[] = {
    {"ccp4_fuzz", "CCP4/MRC"},
    {"opendx_fuzz", "OpenDX"},
    {"autodock_fuzz", "AutoDock map"},
    {"cube_fuzz", "Gaussian cube"},
    {"grid_reader_fuzz", "voxmol text"},
    {"delphi_fuzz", "DelPhi phi"},
    {"uhbd_fuzz", "UHBD"},
    {"plt_fuzz", "gOpenMol plt"},
    {"dsn6_fuzz", "DSN6/BRIX"},
    {"xplor_fuzz", "XPLOR/CNS"},
    {"situs_fuzz", "Situs"},
};

std::string bytes_of(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(FormatTable, EachFormatTakesItsOwnSeedsAndNoOtherFormats) {
    const fs::path corpus = fs::path(VOXMOL_TEST_DATA).parent_path() / "fuzz" / "corpus";
    int seeds = 0;
    for (const auto& [folder, format] : kSeedFolders) {
        for (const auto& entry : fs::directory_iterator(corpus / folder)) {
            const std::string bytes = bytes_of(entry.path());
            const std::string name = entry.path().filename().string();
            const std::string_view prefix = std::string_view(bytes).substr(0, gridfmt::kPrefixSize);
            ++seeds;
            EXPECT_EQ(gridfmt::recognise(prefix, name).name, format) << name;
            for (const gridfmt::Format* f : gridfmt::formats()) {
                if (f->native) continue;  // voxmol's own format takes whatever no other takes
                EXPECT_EQ(f->detect(prefix, name), f->name == format) << f->name << " on " << name;
            }
        }
    }
    EXPECT_GE(seeds, 15);
}

TEST(FormatTable, EachSeedReadsWholeOrIsRefusedByName) {
    const fs::path corpus = fs::path(VOXMOL_TEST_DATA).parent_path() / "fuzz" / "corpus";
    const FatalReport previous = set_fatal_report(throw_fatal_error);
    std::FILE* sink = std::tmpfile();
    const TextOutRedirect quiet(sink);
    for (const auto& [folder, format] : kSeedFolders) {
        for (const auto& entry : fs::directory_iterator(corpus / folder)) {
            const std::string name = entry.path().filename().string();
            std::optional<std::string> error;
            try {
                const GridFile grid = read_grid_file(entry.path().string(), std::nullopt, 0);
                // The run names the format, or the form of it the file holds ("DSN6" of "DSN6/BRIX").
                const std::string form = grid.format.substr(0, grid.format.find(','));
                std::string names = "/";
                names.append(format).append("/");
                std::string wanted = "/";
                wanted.append(form).append("/");
                EXPECT_TRUE(grid.format.starts_with(format) || names.find(wanted) != std::string::npos)
                    << name << ": " << grid.format;
            } catch (const FatalError& e) {
                error = e.message;
            }
            EXPECT_EQ(error.has_value(), name.starts_with("refused"))
                << name << ": " << error.value_or("read");
        }
    }
    std::fclose(sink);
    set_fatal_report(previous);
}

}  // namespace
