// The AutoDock map reader on arbitrary bytes, after the rule that recognises the format.
#include "text_reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::read_grid_text(data, size, "fuzz.map", gridfmt::format_named("AutoDock map")->open);
}
