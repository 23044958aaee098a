// A binary grid file read for a window keeps only the points in it; the same file gzip-compressed (under
// the same name) is read whole. Every run must write the same records and print the same lines either way:
// windows that take few points, none, and too many to select (the file then read again, whole), thinning,
// regions and mmCIF, values that are not numbers, and every binary layout (byte orders, record markers, file
// axis orders, value types). Damaged files, read the same way, are CliMoreFormats.BadFiles' cases.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "cli_run.h"

namespace {

using clitest::CliRun;

template <typename T>
std::string bytes_of(T v, bool big) {
    std::string b(sizeof v, '\0');
    std::memcpy(b.data(), &v, sizeof v);
    return big ? std::string(b.rbegin(), b.rend()) : b;
}
std::string record(const std::string& payload, bool big, bool wide) {
    const auto n = static_cast<std::int64_t>(payload.size());
    const std::string m = wide ? bytes_of(n, big) : bytes_of(static_cast<std::int32_t>(n), big);
    return m + payload + m;
}

// nx*ny*nz values listed in file order (first axis fastest), normal around 0, a few not numbers.
std::vector<double> values(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> v(count);
    for (std::size_t n = 0; n < count; ++n)
        v[n] = n % 97 == 13 ? std::nan("") : normal(rng);
    return v;
}
template <typename T>
std::string listed(const std::vector<double>& v, bool big) {
    std::string out;
    for (double x : v)
        out += bytes_of(static_cast<T>(x * (std::is_integral_v<T> ? 1000.0 : 1.0)), big);
    return out;
}

std::string plt(int n, bool big) {
    std::string out;
    for (std::int32_t w : {3, 200, n, n + 1, n + 2})
        out += bytes_of(w, big);
    for (float f : {-1.0f, 1.0f, -2.0f, 2.0f, 0.0f, 3.0f})
        out += bytes_of(f, big);
    return out + listed<float>(values(std::size_t(n) * (n + 1) * (n + 2), n), big);
}

std::string uhbd(int n, bool big, bool wide) {
    std::string head = std::string("selection").append(63, ' ') + bytes_of(1.0f, big) + bytes_of(0.0f, big);
    for (std::int32_t w : {0, 0, n, 1, n, n, n, n})
        head += bytes_of(w, big);
    for (float f : {0.5f, -1.0f, -1.0f, -1.0f, 0.f, 0.f, 0.f, 0.f, 0.f, 0.f})
        head += bytes_of(f, big);
    std::string out =
        record(head + bytes_of<std::int32_t>(0, big) + bytes_of<std::int32_t>(0, big), big, wide);
    const std::vector<double> v = values(std::size_t(n) * n * n, 7);
    const std::size_t plane = std::size_t(n) * n;
    for (int k = 0; k < n; ++k) {
        std::string ijk;
        for (std::int32_t w : {k + 1, n, n})
            ijk += bytes_of(w, big);
        out += record(ijk, big, wide);
        out += record(listed<float>({v.begin() + k * plane, v.begin() + (k + 1) * plane}, big), big, wide);
    }
    return out;
}

template <typename T>
std::string phi(int n, bool big, bool wide) {
    std::string trailer;
    for (T t : {T(2), T(0.5), T(-1), T(0)})
        trailer += bytes_of(t, big);
    return record("now starting phimap ", big, wide) + record(std::string(70, ' '), big, wide) +
           record(listed<T>(values(std::size_t(n) * n * n, 3), big), big, wide) +
           record(" end of phimap  ", big, wide) + record(trailer, big, wide);
}

// A CCP4/MRC map of mode 0, 1 or 2 whose columns, rows and sections run along `axes` (1 x, 2 y, 3 z).
std::string ccp4(std::array<std::int32_t, 3> n, int mode, std::array<std::int32_t, 3> axes, bool big) {
    std::string out(1024, '\0');
    auto put = [&](int word, auto v) { out.replace(4 * (word - 1), 4, bytes_of(v, big)); };
    for (int d = 0; d < 3; ++d) {
        put(1 + d, n[d]);
        put(11 + d, 10.0f);
        put(14 + d, 90.0f);
        put(17 + d, axes[d]);
    }
    for (int d = 0; d < 3; ++d)
        put(8 + axes[d] - 1, n[d]);
    put(4, std::int32_t{mode});
    out.replace(208, 4, "MAP ");
    out.replace(212, 4, big ? std::string("\x11\x11\0\0", 4) : std::string("\x44\x41\0\0", 4));
    const std::vector<double> v = values(std::size_t(n[0]) * n[1] * n[2], 11);
    if (mode == 0) {
        for (double x : v)
            out += static_cast<char>(std::isnan(x) ? 0 : static_cast<std::int8_t>(x * 40.0));
        return out;
    }
    return out + (mode == 1 ? listed<std::int16_t>(v, big) : listed<float>(v, big));
}

// A DSN6 map of nx*ny*nz points in 8^3 bricks of random bytes (the value of byte b is b / 100).
std::string dsn6(std::int16_t nx, std::int16_t ny, std::int16_t nz) {
    std::string out;
    for (std::int16_t w : {std::int16_t{-2}, std::int16_t{0}, std::int16_t{1}, nx, ny, nz, std::int16_t{20},
                           std::int16_t{20}, std::int16_t{20}, std::int16_t{800}, std::int16_t{800},
                           std::int16_t{800}, std::int16_t{7200}, std::int16_t{7200}, std::int16_t{7200},
                           std::int16_t{100}, std::int16_t{0}, std::int16_t{80}, std::int16_t{100}})
        out += bytes_of(w, true);
    out.resize(512, '\0');
    std::mt19937 rng(nx);
    const std::size_t bricks = std::size_t((nx + 7) / 8) * ((ny + 7) / 8) * ((nz + 7) / 8);
    for (std::size_t n = 0; n < bricks * 512; ++n)
        out += static_cast<char>(rng() & 0xff);
    return out;
}

struct File {
    std::string name, content;
};

TEST(CliSelection, ReadingAWindowWritesWhatReadingTheWholeGridWrites) {
    const File files[] = {
        {"small.plt", plt(5, false)},
        {"big.plt", plt(40, true)},  // 40 x 41 x 42: more than 2^16 points, a window of all is too many
        {"grid.grd", uhbd(9, false, false)},
        {"wide.grd", uhbd(42, true, true)},
        {"single.phi", phi<float>(52, false, false)},  // read past its limit with a piece left
        {"double.phi", phi<double>(7, true, true)},
        {"zxy.map", ccp4({6, 5, 4}, 2, {3, 1, 2}, false)},
        {"yzx.map", ccp4({44, 41, 40}, 1, {2, 3, 1}, true)},
        {"bytes.map", ccp4({3, 50, 7}, 0, {1, 2, 3}, false)},
        {"edges.dsn6", dsn6(20, 13, 10)},
        {"big.dsn6", dsn6(48, 40, 40)},
    };
    const std::vector<std::vector<std::string>> runs = {
        {"-t", "0.1", "0.3", "-l", "1"},
        {"-t", "-1e30", "1e30", "-l", "1"},  // every number: more than a small grid's share in the big ones
        {"-t", "5", "-5", "-l", "1"},
        {"-t", "-0.2", "1", "-r", "3", "-l", "3"},
        {"-t", "-1000", "1000", "-r", "7", "-l", "1"},
        {"-t", "0", "2", "--box=-1,-1,0,1,2,2", "--cif", "-l", "2"},
        {"-t", "-2", "0", "--element=X", "-l", "2"},
    };
    for (const File& f : files) {
        for (const auto& args : runs) {
            // The compressed copy under the same name: recognised by its bytes, read whole.
            std::vector<std::string> command{f.name};
            command.insert(command.end(), args.begin(), args.end());
            const CliRun a = clitest::run_voxmol(command, {{f.name, f.content}});
            const CliRun b = clitest::run_voxmol(command, {{f.name, clitest::gzip(f.content)}});
            std::string where = f.name;
            for (const std::string* word : {&args[1], &args[2], &args[args.size() - 3]})
                where.append(" ").append(*word);
            ASSERT_EQ(a.status, 0) << where << "\n" << a.out;
            ASSERT_EQ(b.status, 0) << where << "\n" << b.out;
            ASSERT_EQ(a.written.size(), 1u) << where;
            ASSERT_EQ(b.written.size(), 1u) << where;
            EXPECT_EQ(a.written.begin()->second, b.written.begin()->second) << where;
            // The format line names the compression; every other line is the same.
            std::string out_b = clitest::mask_seconds(b.out);
            const std::size_t gz = out_b.find(", gzip\n");
            if (gz != std::string::npos) out_b.erase(gz, 6);
            EXPECT_EQ(clitest::mask_seconds(a.out), out_b) << where;
        }
    }
}

}  // namespace
