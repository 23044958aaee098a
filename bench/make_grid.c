/* Writes an N x N x N grid file in voxmol's input format on standard output: a smooth field with
 * values in [-1, 1], one per line, written as "%.6e" (format e) or "%g" (format g).
 * usage: make_grid N [e|g] > grid.txt */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: make_grid N [e|g]\n");
        return 2;
    }
    const int n = atoi(argv[1]);
    const char* format = (argc > 2 && argv[2][0] == 'g') ? "%g\n" : "%.6e\n";
    const double h = 0.5, low = -0.5 * h * (n - 1), high = low + h * (n - 1);
    static char buffer[1 << 20];
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    printf("! benchmark grid %d x %d x %d, spacing %.1f\n", n, n, n, h);
    printf("%g %g %g %g %g %g %ld %ld %d %d %d %g %g %g %g %g %g\n", low, low, low, high, high, high,
           (long)n * n * n, (long)(n - 1) * (n - 1) * (n - 1), n, n, n, low, low, low, high - low,
           high - low, high - low);
    for (int i = 0; i < n; ++i) {
        const double x = low + i * h;
        for (int j = 0; j < n; ++j) {
            const double y = low + j * h;
            for (int k = 0; k < n; ++k) {
                const double z = low + k * h;
                printf(format, sin(0.31 * x) * cos(0.23 * y) * sin(0.17 * z + 0.5));
            }
        }
    }
    return 0;
}
