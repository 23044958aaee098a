// Values read into a selection of a window, against the same values tested one by one: windows whose
// bounds fall on a float, a hair beside one, between two, beyond the floats' range, infinite or not a
// number, over floats in both byte orders and over doubles, with the file's axes in several orders.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "dx/formats/walk_order.h"

namespace {

using gridfmt::FileAxes;

template <typename T>
std::string bytes(const std::vector<T>& v, bool swap) {
    std::string out;
    for (T x : v) {
        char b[sizeof(T)];
        std::memcpy(b, &x, sizeof b);
        if (swap) std::reverse(b, b + sizeof b);
        out.append(b, sizeof b);
    }
    return out;
}

// What the selection must hold: every value in the window with its walk index, in walk order.
template <typename T>
std::vector<PointSelection::Point> expected(const std::vector<T>& file, const FileAxes& axes, double min,
                                            double max) {
    std::array<std::size_t, 3> dims{}, walk_stride{};
    for (int f = 0; f < 3; ++f)
        dims[axes.walk_axis[f]] = axes.n[f];
    walk_stride = {dims[1] * dims[2], dims[2], 1};
    std::vector<PointSelection::Point> want;
    std::size_t n = 0;
    for (std::size_t c2 = 0; c2 < axes.n[2]; ++c2)
        for (std::size_t c1 = 0; c1 < axes.n[1]; ++c1)
            for (std::size_t c0 = 0; c0 < axes.n[0]; ++c0, ++n) {
                const double v = file[n];
                if (min <= v && v <= max)
                    want.push_back({c0 * walk_stride[axes.walk_axis[0]] +
                                        c1 * walk_stride[axes.walk_axis[1]] +
                                        c2 * walk_stride[axes.walk_axis[2]],
                                    v});
            }
    std::sort(want.begin(), want.end(), [](auto& a, auto& b) { return a.walk < b.walk; });
    return want;
}

template <typename T, bool kSwap>
void check(const std::vector<T>& file, const FileAxes& axes, double min, double max) {
    const std::string raw = bytes(file, kSwap);
    PointSelection s;
    s.min = min;
    s.max = max;
    s.least = file.size();
    std::size_t at = 0;
    gridfmt::move_to_walk_order<sizeof(T), io::load_as_double<T, kSwap>>(
        s, axes, [&](char* dst, std::size_t n) {
            std::memcpy(dst, raw.data() + at, n * sizeof(T));
            at += n * sizeof(T);
        });
    ASSERT_TRUE(s.complete);
    const auto want = expected(file, axes, min, max);
    ASSERT_EQ(s.points.size(), want.size()) << "window " << min << " " << max;
    for (std::size_t p = 0; p < want.size(); ++p) {
        ASSERT_EQ(s.points[p].walk, want[p].walk);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(s.points[p].value),
                  std::bit_cast<std::uint64_t>(want[p].value));
    }
}

TEST(Selection, HoldsExactlyTheWindowsValues) {
    std::mt19937 rng(9);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    std::vector<float> floats(40 * 6 * 5);  // rows of 40: blocks of 16 are tested whole
    for (float& f : floats)
        f = normal(rng);
    const float on = floats[100], inf = std::numeric_limits<float>::infinity();
    floats[5] = inf;
    floats[6] = -inf;
    floats[7] = std::nanf("");
    floats[8] = std::numeric_limits<float>::max();
    floats[9] = std::numeric_limits<float>::denorm_min();
    const double nan = std::nan(""), big = 1e300;
    const double windows[][2] = {
        {on, on},                                                        // one float exactly
        {std::nextafter(double(on), 0.0), double(on)},                   // a hair below it to it
        {std::nextafter(double(on), 1e9), 1e9},                          // a hair above it: it is out
        {double(std::nextafter(on, 0.0f)) + 1e-12, double(on) - 1e-12},  // between two floats: maybe none
        {-0.3, 0.2},
        {-big, big},
        {big, big},
        {-HUGE_VAL, HUGE_VAL},
        {HUGE_VAL, HUGE_VAL},
        {3.4028235677973366e38, HUGE_VAL},  // above the largest float, below infinity
        {0.0, 0.0},
        {nan, 1.0},
        {-1.0, nan},
        {2.0, -2.0},
    };
    const FileAxes orders[] = {
        gridfmt::x_fastest(40, 6, 5), {{40, 6, 5}, {2, 1, 0}}, {{40, 6, 5}, {1, 2, 0}}};
    std::vector<double> doubles(floats.begin(), floats.end());
    for (const FileAxes& axes : orders) {
        for (const auto& w : windows) {
            check<float, false>(floats, axes, w[0], w[1]);
            check<float, true>(floats, axes, w[0], w[1]);
            check<double, true>(doubles, axes, w[0], w[1]);
        }
    }
}

}  // namespace
