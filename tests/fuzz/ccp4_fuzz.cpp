// The CCP4/MRC reader on arbitrary bytes, as a stream and as a file of known size.
#include "binary_reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::read_binary_format(data, size, "CCP4/MRC", "map.mrc");
}
