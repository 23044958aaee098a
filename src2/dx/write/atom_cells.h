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
    bool any_within(const Position& p, std::size_t& hint) const {
        if (!class_.empty()) {
            const unsigned char c = voxel_class(p);
            if (c != kBetween) return c == kFull;
        }
        return measure(p, hint);
    }

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
    // The class of the voxel that holds p: kFar when p lies outside them all. A point is placed in its
    // voxel by a product with the voxel's inverse width, truncated (floor for the coordinates from the
    // first voxel on, which are all the lookup takes): a point the product's rounding puts in the voxel
    // next door lies within a hair of it, far inside the margin of every mark.
    unsigned char voxel_class(const Position& p) const {
        long v[3];
        for (int d = 0; d < 3; ++d) {
            const double t = (p[d] - voxel_low_[d]) * per_voxel_;
            if (!(t >= 0.0 && t < voxel_limit_[d])) return kFar;
            v[d] = static_cast<long>(t);
        }
        return class_[static_cast<std::size_t>((v[0] * voxels_[1] + v[1]) * voxels_[2] + v[2])];
    }
    // any_within by measuring the atoms of p's cell and the cells around it.
    bool measure(const Position& p, std::size_t& hint) const;

    static constexpr unsigned char kFar = 0, kBetween = 1, kFull = 2;

    double radius_;
    double squared_;
    double width_ = 1.0;  // of a cell, a little over the radius
    double per_width_ = 1.0;
    Position low_{};  // corner of cell (0, 0, 0)
    std::array<long, 3> cells_{};
    std::vector<std::size_t> start_;  // atoms of cell c: sorted_[start_[c], start_[c + 1])
    std::vector<Position> sorted_;    // the atoms, cell by cell

    double voxel_ = 1.0;  // width of a voxel
    double per_voxel_ = 1.0;
    Position voxel_limit_{};  // voxels_ as doubles
    Position voxel_low_{};
    std::array<long, 3> voxels_{};
    std::vector<unsigned char> class_;  // per voxel, x slowest; empty: every point is measured
};

#endif  // VOXMOL_DX_WRITE_ATOM_CELLS_H
