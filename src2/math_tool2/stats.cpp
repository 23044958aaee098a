#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "common/fatal.h"
#include "common/text_out.h"
#include "math_tool2.h"

namespace {

// A count of 0 or less is an empty set; a count larger than an array it describes would read past it,
// so it is refused.
std::size_t checked_count(int count, std::size_t size, const char* where, const char* what) {
    if (count <= 0) return 0;
    const auto n = static_cast<std::size_t>(count);
    if (n > size) {
        fatal_error(where, std::string("count ") + std::to_string(count) + " exceeds the " +
                               std::to_string(size) + " elements of " + what);
    }
    return n;
}

std::size_t checked_count_xyz(int count, std::size_t sx, std::size_t sy, std::size_t sz, const char* where,
                              const char* what) {
    checked_count(count, sx, where, what);
    checked_count(count, sy, where, what);
    return checked_count(count, sz, where, what);
}

// The mass that a name slot's first two characters give under the weighting, or 0 when they match no key.
double element_mass(const ANAME_SLOT& name) {
    struct Key {
        char element;
        double mass;
    };
    static constexpr Key kKeys[] = {{'N', 14.0}, {'O', 16.0}, {'C', 12.0},
                                    {'S', 32.0}, {'H', 1.0},  {'P', 31.0}};
    if (name[0] != ' ') return 0.0;
    for (const Key& key : kKeys) {
        if (name[1] == key.element) return key.mass;
    }
    return 0.0;
}

}  // namespace

int stat_mean(int nb, std::span<const double> data, double* mean, double* sdev) {
    *mean = 0.0;
    *sdev = 0.0;
    const std::size_t n = checked_count(nb, data.size(), "SUB:STAT_MEAN", "the data");
    if (n == 0) {
        // Nothing to average: the deviation is as undefined as the mean (the plain formula would give -0).
        *mean = std::numeric_limits<double>::quiet_NaN();
        *sdev = std::numeric_limits<double>::quiet_NaN();
        return 1;
    }
    for (std::size_t i = 0; i < n; ++i)
        *mean += data[i];
    *mean /= static_cast<double>(nb);
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = data[i] - *mean;
        sum += d * d;
    }
    *sdev = std::sqrt(sum / static_cast<double>(nb - 1));
    return 1;
}

double RMSD1(std::span<const double> loopX, std::span<const double> loopY, std::span<const double> loopZ,
             std::span<const double> refX, std::span<const double> refY, std::span<const double> refZ,
             int max, int LEVEL) {
    checked_count_xyz(max, loopX.size(), loopY.size(), loopZ.size(), "SUB:RMSD1", "the loop coordinates");
    const std::size_t n = checked_count_xyz(max, refX.size(), refY.size(), refZ.size(), "SUB:RMSD1",
                                            "the reference coordinates");
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double difX = loopX[i] - refX[i];
        const double difY = loopY[i] - refY[i];
        const double difZ = loopZ[i] - refZ[i];
        sum += (difX * difX + difY * difY) + difZ * difZ;
    }
    // max = 0 gives 0/0, not-a-number, as the empty set deserves.
    const double rmsd = std::sqrt(sum / static_cast<double>(max));
    if (LEVEL > 2) std::fprintf(text_out(), "RMSD=%6.2f \n", rmsd);
    return rmsd;
}

void get_pdb_xyz_min_max(int nbatm, std::span<const float> Cx, std::span<const float> Cy,
                         std::span<const float> Cz, float* minX, float* maxX, float* minY, float* maxY,
                         float* minZ, float* maxZ, int LEVEL) {
    const std::size_t n = checked_count_xyz(nbatm, Cx.size(), Cy.size(), Cz.size(), "SUB:GET_PDB_XYZ_MIN_MAX",
                                            "the coordinates");
    // The starting values double as limits: coordinates beyond +-9999 never replace them.
    *minX = *minY = *minZ = 9999.0f;
    *maxX = *maxY = *maxZ = -9999.0f;
    const auto widen = [](float c, float* lo, float* hi) {
        if (*lo > c) *lo = c;
        if (c > *hi) *hi = c;
    };
    for (std::size_t i = 0; i < n; ++i) {
        widen(Cx[i], minX, maxX);
        widen(Cy[i], minY, maxY);
        widen(Cz[i], minZ, maxZ);
    }
    if (LEVEL > 2) {
        const float extX = *maxX - *minX;
        const float extY = *maxY - *minY;
        const float extZ = *maxZ - *minZ;
        std::fprintf(
            text_out(),
            "MinX=%8.3f  MaxX=%8.3f  ExtX=%8.3f\nMinY=%8.3f  MaxY=%8.3f  ExtY=%8.3f\nMinZ=%8.3f  MaxZ=%8.3f  "
            "ExtZ=%8.3f\n",
            *minX, *maxX, extX, *minY, *maxY, extY, *minZ, *maxZ, extZ);
    }
}

COORD get_com(int nbatm, std::span<const float> Cx, std::span<const float> Cy, std::span<const float> Cz,
              std::span<const ANAME_SLOT> aname, int MASS, int LEVEL) {
    const std::size_t n =
        checked_count_xyz(nbatm, Cx.size(), Cy.size(), Cz.size(), "SUB:GET_COM", "the coordinates");
    if (MASS != 0) checked_count(nbatm, aname.size(), "SUB:GET_COM", "the atom names");
    double sumX = 0.0;
    double sumY = 0.0;
    double sumZ = 0.0;
    double mass_tot = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        double weight = 1.0;
        if (MASS != 0) {
            // A name that matches no key weighs 1.0, never the weight of an earlier atom.
            const double mass = element_mass(aname[i]);
            if (mass > 0.0) weight = mass;
        }
        sumX += static_cast<double>(Cx[i]) * weight;
        sumY += static_cast<double>(Cy[i]) * weight;
        sumZ += static_cast<double>(Cz[i]) * weight;
        mass_tot += weight;
    }
    // An empty set divides 0 by 0: every component is not-a-number.
    const COORD com{sumX / mass_tot, sumY / mass_tot, sumZ / mass_tot};
    if (LEVEL > 2) {
        std::fprintf(text_out(), "mass_tot = %f\n", mass_tot);
        std::fprintf(text_out(), "Center of mass: %6.2f %6.2f %6.2f\n", com.x, com.y, com.z);
    }
    return com;
}

int center_coord(int nbatm, std::span<COORD> A, int LEVEL) {
    const std::size_t n = checked_count(nbatm, A.size(), "SUB:CENTER_COORD", "the points");
    double sumX = 0.0;
    double sumY = 0.0;
    double sumZ = 0.0;
    int count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sumX += A[i].x;
        sumY += A[i].y;
        sumZ += A[i].z;
        ++count;
    }
    const double cx = sumX / static_cast<double>(count);
    const double cy = sumY / static_cast<double>(count);
    const double cz = sumZ / static_cast<double>(count);
    for (std::size_t i = 0; i < n; ++i) {
        A[i].x -= cx;
        A[i].y -= cy;
        A[i].z -= cz;
    }
    // An empty set reports a not-a-number centre and changes nothing.
    if (LEVEL > 1) std::fprintf(text_out(), "Original center of mass = %f %f %f \n", cx, cy, cz);
    return count;
}

double radius_gyr(int nbatm, std::span<const float> X, std::span<const float> Y, std::span<const float> Z,
                  double Ax, double Ay, double Az, int /*LEVEL*/) {
    const std::size_t n =
        checked_count_xyz(nbatm, X.size(), Y.size(), Z.size(), "SUB:RADIUS_GYR", "the coordinates");
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double dx = static_cast<double>(X[i]) - Ax;
        const double dy = static_cast<double>(Y[i]) - Ay;
        const double dz = static_cast<double>(Z[i]) - Az;
        sum += (dx * dx + dy * dy) + dz * dz;
    }
    // nbatm = 0 gives 0/0, not-a-number.
    return std::sqrt(sum / static_cast<double>(nbatm));
}
