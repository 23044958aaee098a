#include "dx/write/record_filter.h"

#include <cmath>

GridStatistics grid_statistics(std::span<const double> values) {
    // Two passes in extended precision: the mean first, then the squared deviations from it, so that a
    // grid of large values with a small spread keeps its standard deviation.
    GridStatistics s;
    long double sum = 0.0L;
    for (double v : values) {
        if (std::isfinite(v)) {
            sum += v;
            ++s.count;
        }
    }
    if (s.count == 0) return s;
    const long double mean = sum / static_cast<long double>(s.count);
    long double squares = 0.0L;
    for (double v : values) {
        if (std::isfinite(v)) squares += (v - mean) * (v - mean);
    }
    s.mean = static_cast<double>(mean);
    s.sd = static_cast<double>(std::sqrt(squares / static_cast<long double>(s.count)));
    return s;
}

double cell_volume(const Tuhbdgrd& grid) {
    const auto [a, b, c] = grid_axes(grid);
    const double cross[3] = {b[1] * c[2] - b[2] * c[1], b[2] * c[0] - b[0] * c[2], b[0] * c[1] - b[1] * c[0]};
    return std::fabs(a[0] * cross[0] + a[1] * cross[1] + a[2] * cross[2]);
}
