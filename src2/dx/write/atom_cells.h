// Which grid points lie within a distance of a structure's atoms. Two layers: small voxels marked from the
// atoms once (every point of a voxel lies within the distance of an atom, or none does, or it is not
// known), and for the voxels in between, the atoms sorted into cubic cells at least that distance wide,
// so that a point is measured against the atoms of its own cell and the 26 around it, never against
// every atom.
#ifndef VOXMOL_DX_WRITE_ATOM_CELLS_H
#define VOXMOL_DX_WRITE_ATOM_CELLS_H

#include <array>
#include <cstddef>
#include <span>
#include <vector>

using Position = std::array<double, 3>;  // x, y, z in Ångström

class AtomCells {
  public:
    // The atoms at `atoms` (copied) and the distance `radius` (Ångström, finite, 0 or more).
    AtomCells(std::span<const Position> atoms, double radius);

    // True when an atom lies within the radius of `p`, boundary included: the squared distance
    // dx*dx + dy*dy + dz*dz, each difference taken in double from the two positions as given, is at most
    // radius*radius. The cells only choose which atoms are measured; every answer is that comparison.
    bool any_within(const Position& p) const {
        std::size_t hint = kNoHint;
        return any_within(p, hint);
    }

    // The same, measuring first the atom `hint` names (the one that answered the last call of a walk: the
    // next point is close by, and most often within the radius of the same atom); on a true answer `hint`
    // names the atom found. Start a walk with kNoHint.
    static constexpr std::size_t kNoHint = static_cast<std::size_t>(-1);
    bool any_within(const Position& p, std::size_t& hint) const;

    double radius() const { return radius_; }
    std::size_t atoms() const { return sorted_.size(); }

  private:
    bool within(const Position& p, std::size_t atom) const {
        const Position& a = sorted_[atom];
        const double dx = p[0] - a[0], dy = p[1] - a[1], dz = p[2] - a[2];
        return dx * dx + dy * dy + dz * dz <= squared_;
    }
    long cell_of(double coordinate, int axis) const;
    void mark_voxels(const Position& high);
    // The class of the voxel that holds p: kFar when p lies outside them all.
    unsigned char voxel_class(const Position& p) const;

    static constexpr unsigned char kFar = 0, kBetween = 1, kFull = 2;

    double radius_;
    double squared_;
    double width_ = 1.0;  // of a cell, a little over the radius
    Position low_{};      // corner of cell (0, 0, 0)
    std::array<long, 3> cells_{};
    std::vector<std::size_t> start_;  // atoms of cell c: sorted_[start_[c], start_[c + 1])
    std::vector<Position> sorted_;    // the atoms, cell by cell

    double voxel_ = 1.0;  // width of a voxel
    Position voxel_low_{};
    std::array<long, 3> voxels_{};
    std::vector<unsigned char> class_;  // per voxel, x slowest; empty: every point is measured
};

#endif  // VOXMOL_DX_WRITE_ATOM_CELLS_H
