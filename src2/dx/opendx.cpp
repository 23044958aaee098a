// Placeholder until the reader lands.
#include "dx/grid_formats.h"
#include "pdb8.h"

namespace gridfmt {

std::unique_ptr<Reader> make_opendx_reader(lines::BlockReader&) {
    err("MAIN:VOXDEN", "This grid format is not read yet");
}

}  // namespace gridfmt
