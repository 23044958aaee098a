#include <algorithm>
#include <cmath>

#include "math_tool2.h"

namespace {

// The double nearest to pi, and the full turn used to turn radians into degrees.
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

// Rounding in a scalar product of two unit vectors can land just outside [-1, 1]; a straight or flat
// arrangement would then become not-a-number in the arc cosine. Not-a-number itself passes through.
double clamp_cosine(double c) {
    return std::clamp(c, -1.0, 1.0);
}

}  // namespace

double distance(COORD a, COORD b) {
    return std::sqrt(distance2(a, b));
}

double distance2(COORD a, COORD b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double dz = b.z - a.z;
    return (dx * dx + dy * dy) + dz * dz;
}

float fdistance(float ax, float ay, float az, float bx, float by, float bz) {
    const float dx = bx - ax;
    const float dy = by - ay;
    const float dz = bz - az;
    return std::sqrt((dx * dx + dy * dy) + dz * dz);  // the float overload: sqrtf
}

double norm_vector(const double* x, const double* y, const double* z, const double* u, const double* v,
                   const double* w) {
    const double dx = *x - *u;
    const double dy = *y - *v;
    const double dz = *z - *w;
    return std::sqrt((dx * dx + dy * dy) + dz * dz);
}

double mult_vector(const double* x, const double* y, const double* z, const double* u, const double* v,
                   const double* w) {
    return (*x * *u + *y * *v) + *z * *w;
}

COORD vector(const double* x, const double* y, const double* z, const double* u, const double* v,
             const double* w) {
    return COORD{*u - *x, *v - *y, *w - *z};
}

COORD cross_vector(const double* x, const double* y, const double* z, const double* u, const double* v,
                   const double* w) {
    const double first = *y * *w - *z * *v;
    // Kept as the negated difference: it differs from z*u - x*w in the sign of a zero result.
    const double second = -(*x * *w - *z * *u);
    const double third = *x * *v - *y * *u;
    const double length = std::sqrt((first * first + second * second) + third * third);
    return COORD{first / length, second / length, third / length};
}

COORD normv(COORD A) {
    const double length = std::sqrt((A.x * A.x + A.y * A.y) + A.z * A.z);
    return COORD{A.x / length, A.y / length, A.z / length};
}

int sign_vector(const double* dihedral) {
    return *dihedral < 0 ? -1 : 1;
}

double cos_angle(const double* angle) {
    // Multiply first, then divide: acos(0.5) gives 60.00000000000001, and callers may rely on that.
    return std::acos(*angle) * 360.0 / kTwoPi;
}

double angle(COORD A, COORD B, COORD C) {
    const COORD vector_BA = normv(vector(&B.x, &B.y, &B.z, &A.x, &A.y, &A.z));
    const COORD vector_BC = normv(vector(&B.x, &B.y, &B.z, &C.x, &C.y, &C.z));
    const double c = clamp_cosine(
        mult_vector(&vector_BA.x, &vector_BA.y, &vector_BA.z, &vector_BC.x, &vector_BC.y, &vector_BC.z));
    return cos_angle(&c);
}

double dihedral(const double* Ax, const double* Ay, const double* Az, const double* Bx, const double* By,
                const double* Bz, const double* Cx, const double* Cy, const double* Cz, const double* Dx,
                const double* Dy, const double* Dz) {
    const COORD vector_BA = vector(Bx, By, Bz, Ax, Ay, Az);
    const COORD vector_BC = vector(Bx, By, Bz, Cx, Cy, Cz);
    const COORD vector_CB = vector(Cx, Cy, Cz, Bx, By, Bz);
    const COORD vector_CD = vector(Cx, Cy, Cz, Dx, Dy, Dz);
    const COORD plan1 =
        cross_vector(&vector_BA.x, &vector_BA.y, &vector_BA.z, &vector_BC.x, &vector_BC.y, &vector_BC.z);
    const COORD plan2 =
        cross_vector(&vector_CB.x, &vector_CB.y, &vector_CB.z, &vector_CD.x, &vector_CD.y, &vector_CD.z);
    const double c = clamp_cosine(mult_vector(&plan1.x, &plan1.y, &plan1.z, &plan2.x, &plan2.y, &plan2.z));
    const double side = mult_vector(&plan2.x, &plan2.y, &plan2.z, &vector_BA.x, &vector_BA.y, &vector_BA.z);
    // A side of exactly zero counts as positive, so a flat trans arrangement gives +180.
    return cos_angle(&c) * static_cast<double>(sign_vector(&side));
}

COORD get_xyz_from_polar_deg(int /*nbatm*/, const double* R, const double* THETA, const double* PHI,
                             int /*LEVEL*/) {
    const double r = *R;
    const double theta = (*THETA * kPi) / 180.0;
    const double phi = (*PHI * kPi) / 180.0;
    // z is cos(theta) * r: on the equator it is a tiny non-zero value, not 0.
    return COORD{(r * std::sin(theta)) * std::cos(phi), (r * std::sin(theta)) * std::sin(phi),
                 std::cos(theta) * r};
}
