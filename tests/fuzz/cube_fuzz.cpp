// The cube reader on arbitrary bytes, after the rule that recognises a cube file by its shape.
#include "text_reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::read_grid_text(data, size, "fuzz.cube", gridfmt::format_named("Gaussian cube")->open);
}
