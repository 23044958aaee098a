// The XPLOR/CNS reader on arbitrary bytes, after recognition.
#include "text_reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::read_grid_text(data, size, "fuzz.xplor", gridfmt::format_named("XPLOR/CNS")->open);
}
