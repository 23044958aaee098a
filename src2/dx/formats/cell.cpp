#include "dx/formats/cell.h"

#include <cmath>
#include <numbers>

namespace gridfmt {

namespace {

constexpr char kEdge[3] = {'a', 'b', 'c'};

// cos and sin of an angle in degrees; a right angle gives exact zeros, so that an orthogonal cell has
// axis-aligned steps.
double cos_deg(double deg) {
    return deg == 90.0 ? 0.0 : std::cos(deg * std::numbers::pi / 180.0);
}
double sin_deg(double deg) {
    return deg == 90.0 ? 1.0 : std::sin(deg * std::numbers::pi / 180.0);
}

}  // namespace

void place_in_cell(const CellGrid& cell, const std::string& format, Geometry& g) {
    for (int d = 0; d < 3; ++d) {
        if (!(cell.lengths[d] > 0.0) || !std::isfinite(cell.lengths[d])) {
            fail(formatted("The %s header gives the cell length %g along %c; it must be positive",
                           format.c_str(), cell.lengths[d], kEdge[d]));
        }
        if (cell.sampling[d] < 1) {
            fail(formatted("The %s header gives the sampling %ld along %c; it must be positive",
                           format.c_str(), cell.sampling[d], kEdge[d]));
        }
    }
    const auto& [alpha, beta, gamma] = cell.angles;
    for (double angle : cell.angles) {
        if (!(angle > 0.0 && angle < 180.0)) {
            fail(formatted(
                "The %s header gives the cell angles %g %g %g; each must lie between 0 and 180 degrees",
                format.c_str(), alpha, beta, gamma));
        }
    }
    const double cos_alpha_star =
        (cos_deg(beta) * cos_deg(gamma) - cos_deg(alpha)) / (sin_deg(beta) * sin_deg(gamma));
    const double sin2_alpha_star = 1.0 - cos_alpha_star * cos_alpha_star;
    if (!(sin2_alpha_star > 0.0)) {
        fail(formatted("The %s header gives the cell angles %g %g %g, which make no cell", format.c_str(),
                       alpha, beta, gamma));
    }
    const auto& [a, b, c] = cell.lengths;
    // The cell's edges as vectors: the columns of the orthogonalisation matrix.
    const std::array<std::array<double, 3>, 3> edges = {{
        {a, 0.0, 0.0},
        {b * cos_deg(gamma), b * sin_deg(gamma), 0.0},
        {c * cos_deg(beta), -c * cos_alpha_star * sin_deg(beta),
         c * std::sqrt(sin2_alpha_star) * sin_deg(beta)},
    }};
    for (int d = 0; d < 3; ++d) {
        for (int x = 0; x < 3; ++x)
            g.axes[d][x] = edges[d][x] / static_cast<double>(cell.sampling[d]);
    }
    for (int x = 0; x < 3; ++x) {
        g.origin[x] = 0.0;
        for (int d = 0; d < 3; ++d)
            g.origin[x] += static_cast<double>(cell.start[d]) * g.axes[d][x];
    }
}

}  // namespace gridfmt
