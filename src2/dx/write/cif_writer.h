// The pseudo-atom records as PDBx/mmCIF: one _atom_site loop, numbers as plain integers at any size, the
// coordinates to three decimals and each value at full precision.
#ifndef VOXMOL_DX_WRITE_CIF_WRITER_H
#define VOXMOL_DX_WRITE_CIF_WRITER_H

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "dx/grid.h"
#include "dx/uhbdio.h"
#include "dx/write/atom_format.h"
#include "dx/write/write_pipe.h"

namespace ciffmt {

// Writes "%.3f" of `value` (no padding) at `out` and returns the end; may write atomfmt::kMaxFixed bytes.
char* put_coordinate(char* out, double value);
// Writes the shortest decimal text that reads back as exactly `value` (std::to_chars) and returns the end;
// at most 32 bytes.
char* put_value(char* out, double value);

// The head of a file: the data block, the remarks every output carries as comments, and the component
// of the points. PyMOL bonds atoms by distance unless the file lists its components' bonds: one
// _chem_comp_bond row naming `component` with no atoms says it has none, and every point stays a lone
// atom.
std::string file_head(std::string_view block, std::string_view component);

// The _atom_site loop's column names, written before the first row: a file with no point has no loop,
// since a loop without a row is not CIF.
extern const std::string_view kAtomSiteLoop;

// The data block's name for an output or data file name: its base name without the extension, with every
// character a CIF block name cannot hold as "_"; "voxmol" when nothing is left.
std::string block_name(std::string_view file_name);

// Writes the file's head (the data block, the remarks as comments, the component of the points with no
// bond between its atoms, so that PyMOL draws none) on construction, then one _atom_site row per write(),
// the loop's column names before the first:
//   group_PDB ATOM   id serial   type_symbol element (X unless given)   label_atom_id CA   label_alt_id .
//   label_comp_id UNK   label_asym_id A   label_entity_id 1   label_seq_id residue   pdbx_PDB_ins_code ?
//   Cartn_x/y/z "%.3f"   occupancy 1.00   B_iso_or_equiv value (shortest exact)   auth_seq_id residue
//   auth_asym_id A   pdbx_PDB_model_num 1
class CifWriter {
  public:
    // `element`: the type_symbol of every row (empty: X); `block`: the data block's name.
    CifWriter(std::FILE* file, const Tuhbdgrd& grid, bool threaded, std::string_view element,
              std::string_view block);
    ~CifWriter();  // ends the loop and hands the rest to the file
    CifWriter(const CifWriter&) = delete;
    CifWriter& operator=(const CifWriter&) = delete;

    void write(long serial, long residue, long i, long j, long k, double value);

  private:
    // The "%.3f" texts of the positions along one axis of an axis-aligned grid, made once.
    struct Texts {
        std::vector<char> bytes;       // 16 per position
        std::vector<unsigned char> n;  // length of each; 0: formatted on the fly
    };
    static Texts axis_texts(double min, double h, long n);
    char* put_axis(char* out, const Texts& t, double min, double h, long i) const;
    void put(std::string_view text);
    void flush();
    void set_serial(long serial);
    void set_residue(long residue);
    void set_column(long residue, long i, long j);

    writepipe::WritePipe pipe_;
    Axes axes_;
    Tuhbdgrd place_;
    bool oblique_;
    Texts x_, y_, z_;
    // The texts that change from row to row without being formatted anew: the serial, counted up in its
    // digits; the residue, the same for a whole column of points; and the fixed text around them.
    static constexpr std::size_t kNumber = 24;
    // The serial is its digits before the last two (empty below 100), made anew once in a hundred rows,
    // and the last two (0-99; -1 below 10, the whole number being the first part), counted up: a row
    // copies the first part, untouched since it was made, and stores the pair from a table, so that it
    // never reads back bytes just changed (a wide read of a narrow store waits for the store).
    char serial_high_[kNumber] = {};
    std::size_t serial_high_size_ = 0;
    int serial_low_ = -1;
    long serial_value_ = -1;
    char residue_[kNumber] = {};
    std::size_t residue_size_ = 0;
    long residue_value_ = -1;
    char middle_[32] = {};  // " <element> CA . UNK A 1 "
    std::size_t middle_size_ = 0;
    // The text of the rows of one (i, j) column between the serial and z (the middle, the residue, and
    // x and y unless the axes are oblique), and after the value (the residue again and the rest).
    static constexpr std::size_t kShortHead = 96;
    std::array<long, 3> column_{-1, -1, -1};  // i, j, residue
    std::array<char, 128 + 2 * (atomfmt::kMaxFixed + 1)> head_{};
    std::size_t head_size_ = 0;
    char tail_[48] = {};
    std::size_t tail_size_ = 0;
    char* buffer_;
    std::size_t used_ = 0;
    bool rows_ = false;  // the loop is open
};

}  // namespace ciffmt

#endif  // VOXMOL_DX_WRITE_CIF_WRITER_H
