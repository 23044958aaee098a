// The pseudo-atom writer: write_pdb (uhbdio.h) and the pieces the run and the Python module use to write
// the same records with their own choice of thread and of where the values come from.
#ifndef VOXMOL_DX_WRITE_PDB_WRITER_H
#define VOXMOL_DX_WRITE_PDB_WRITER_H

#include <cstdio>
#include <string>
#include <string_view>

#include "dx/grid.h"
#include "dx/uhbdio.h"
#include "dx/write/record_filter.h"

// The four remark lines that open every written file.
inline constexpr std::string_view kRemarks =
    "REMARK  Generated from Cavora (https://cavora.bio/)\n"
    "REMARK               Transformed by voxmol \n"
    "REMARK  Please cite the Cavora web service (https://cavora.bio/)\n"
    "REMARK  This file can be read using VMD\n";

// The two lines write_pdb prints on standard output around its records, at every verbosity.
void print_writing_started();
void print_writing_done();

// write_pdb with the choice of how the records reach `file`: `threaded` hands the full buffers to a
// second thread that writes them while the next ones are filled; otherwise each is written in turn. The
// bytes written are the same either way.
int write_pdb(std::FILE* file, const Tuhbdgrd* grd, double min, double max, int resol, std::string_view type,
              bool threaded);

// The remarks and records of write_pdb, without its progress lines; returns how many records were
// written. The values are stored in `order`. With `progress`, values are taken only once it says they
// are final (they are being read in storage order by another thread); a progress abandoned stops the walk.
long write_pdb_records(std::FILE* file, const Tuhbdgrd& grid, double min, double max, int resol,
                       ValueOrder order, bool threaded, const ValueProgress* progress);

// The same records from a selection of the grid's points (read instead of every value; the grid gives
// the shape and place): the same bytes as from the whole grid when the selection holds every point of
// the window [min, max].
long write_pdb_records(std::FILE* file, const Tuhbdgrd& grid, const PointSelection& selection, double min,
                       double max, int resol, bool threaded);

// The form of the records.
enum class RecordFormat { pdb, mmcif };
struct RecordStyle {
    RecordFormat format = RecordFormat::pdb;
    // PDB: one or two characters right-justified in columns 77-78 of every record (empty: blanks, as
    // write_pdb writes them). mmCIF: the type_symbol of every row (empty: X).
    std::string element;
    std::string block = "voxmol";  // mmCIF: the data block's name (ciffmt::block_name makes one)
};

// The records of the points `filter` keeps, every `resol`-th of them (resol 1 or more), in `style`: the
// PDB form is write_pdb_records' remarks and records, the same bytes when the filter holds only a value
// window and the style no element; the mmCIF form is ciffmt::CifWriter's. Walk order, residues, serials,
// `threaded` and `progress` as for write_pdb_records. A mask shorter than the grid is refused (fatal).
// Prints nothing.
RecordCounts write_records(std::FILE* file, const Tuhbdgrd& grid, ValueOrder order,
                           const RecordFilter& filter, int resol, const RecordStyle& style, bool threaded,
                           const ValueProgress* progress);

// The same from a selection of the grid's points holding every point in the filter's value window.
RecordCounts write_records(std::FILE* file, const Tuhbdgrd& grid, const PointSelection& selection,
                           const RecordFilter& filter, int resol, const RecordStyle& style, bool threaded);

// The line that follows the writer's progress lines when any region, the standard deviations or another
// form was asked for: "Points written: 5,956 of 141,223 in the window (4,882.5 Å³)", the volume being
// that of the points kept before thinning (named too when thinning dropped some), `cell_volume` each.
void print_points_written(const RecordCounts& counts, double cell_volume);

#endif  // VOXMOL_DX_WRITE_PDB_WRITER_H
