#pragma once
// TMat3: a 3 x 3 single-precision matrix made of three vectors ex, ey, ez.
//
// M * v = v.X * ex + v.Y * ey + v.Z * ez, so ex, ey, ez are the columns for a
// column vector v. The nine values lie in memory as those of TMatrix (m11 ..
// m33), so ex becomes the first row of a TMatrix and conversions copy the nine
// values in memory order.

#include "Platform.Math3D.h"

namespace korvane {

struct TMat3 {
    TPoint3D ex, ey, ez;

    constexpr TMat3() = default;
    // A TMatrix converts implicitly: the nine values in memory order.
    TMat3(const TMatrix& AMatrix);

    // All nine values 0.
    static TMat3 Create(int ADummy);
    // ex := (a, b, c); ey := (d, e, f); ez := (g, h, i).
    static TMat3 Create(float a, float b, float c, float d, float e, float f, float g, float h, float i);
    static TMat3 Create(const TPoint3D& _x, const TPoint3D& _y, const TPoint3D& _z);
    // ex, ey, ez := the first, second and third row of AMatrix.
    static TMat3 Create(const TMatrix& AMatrix);

    void _Set(float a, float b, float c, float d, float e, float f, float g, float h, float i);
    // Rotation by angle (radians) about axis; the axis is used as given (not
    // normalised), so only a unit axis gives a pure rotation.
    void _Set(const TPoint3D& axis, float angle);
    void SetRows(const TPoint3D& x, const TPoint3D& y, const TPoint3D& z);

    TPoint3D Column0() const { return {ex.X, ey.X, ez.X}; }
    TPoint3D Column1() const { return {ex.Y, ey.Y, ez.Y}; }
    TPoint3D Column2() const { return {ex.Z, ey.Z, ez.Z}; }
    // ex (0), ey (1) or ez (2); any other index raises EAssertionFailed.
    TPoint3D& GetVector(int Index);
    const TPoint3D& GetVector(int Index) const;

    // The inverse through the adjugate. The determinant is not tested: a
    // singular matrix gives infinities, so callers invert only regular ones.
    TMat3 Inverse() const;
    TMatrix ToMatrix() const;
    // Identity 4 x 4 with rows 1 to 3 of the upper-left 3 x 3 := ex, ey, ez.
    TMatrix3D ToMatrix3D() const;
    operator TMatrix() const { return ToMatrix(); }

    friend TPoint3D operator*(const TMat3& M, const TPoint3D& V);
    // The same as M * V: both operand orders multiply the matrix by the vector.
    friend TPoint3D operator*(const TPoint3D& V, const TMat3& M);
    // ex, ey, ez of the result are A * B.ex, A * B.ey, A * B.ez.
    friend TMat3 operator*(const TMat3& A, const TMat3& B);
    friend TMat3 operator*(const TMat3& A, float F);
    friend TMat3 operator+(const TMat3& A, const TMat3& B);
    friend TMat3 operator-(const TMat3& A, const TMat3& B);
    friend constexpr bool operator==(const TMat3& A, const TMat3& B) = default;
};

static_assert(sizeof(TMat3) == 9 * sizeof(float), "TMat3 holds nine contiguous floats");
static_assert(sizeof(TMatrix) == 9 * sizeof(float), "TMatrix holds nine contiguous floats");

} // namespace korvane
