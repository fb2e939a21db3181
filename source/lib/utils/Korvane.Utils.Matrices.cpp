#include "Korvane.Utils.Matrices.h"

#include <cmath>

#include "Korvane.Utils.Vectors.h"
#include "Platform.SysUtils.h"

namespace korvane {

TMat3::TMat3(const TMatrix& AMatrix)
    : ex(AMatrix.m11, AMatrix.m12, AMatrix.m13), ey(AMatrix.m21, AMatrix.m22, AMatrix.m23),
      ez(AMatrix.m31, AMatrix.m32, AMatrix.m33)
{
}

TMat3 TMat3::Create(int /*ADummy*/) { return TMat3(); }

TMat3 TMat3::Create(float a, float b, float c, float d, float e, float f, float g, float h, float i)
{
    TMat3 R;
    R._Set(a, b, c, d, e, f, g, h, i);
    return R;
}

TMat3 TMat3::Create(const TPoint3D& _x, const TPoint3D& _y, const TPoint3D& _z)
{
    TMat3 R;
    R.SetRows(_x, _y, _z);
    return R;
}

TMat3 TMat3::Create(const TMatrix& AMatrix) { return TMat3(AMatrix); }

void TMat3::_Set(float a, float b, float c, float d, float e, float f, float g, float h, float i)
{
    ex = {a, b, c};
    ey = {d, e, f};
    ez = {g, h, i};
}

void TMat3::_Set(const TPoint3D& axis, float angle)
{
    const double x = axis.X, y = axis.Y, z = axis.Z;
    const double s = float(std::sin(double(angle))), c = float(std::cos(double(angle)));
    const double t = 1 - c;
    const double xy = float(x * y), yz = float(y * z), zx = float(z * x);
    ex = {float(x * x * t + c), float(xy * t + z * s), float(zx * t - y * s)};
    ey = {float(xy * t - z * s), float(y * y * t + c), float(yz * t + x * s)};
    ez = {float(zx * t + y * s), float(yz * t - x * s), float(z * z * t + c)};
}

void TMat3::SetRows(const TPoint3D& x, const TPoint3D& y, const TPoint3D& z)
{
    ex = x;
    ey = y;
    ez = z;
}

namespace {
[[noreturn]] void RaiseBadIndex()
{
    throw EAssertionFailed("Assertion fehlgeschlagen", "source/lib/utils/Korvane.Utils.Matrices", 141);
}
} // namespace

TPoint3D& TMat3::GetVector(int Index)
{
    switch (Index) {
    case 0: return ex;
    case 1: return ey;
    case 2: return ez;
    default: RaiseBadIndex();
    }
}

const TPoint3D& TMat3::GetVector(int Index) const { return const_cast<TMat3*>(this)->GetVector(Index); }

TMat3 TMat3::Inverse() const
{
    const TPoint3D c0 = Point3DCross(ey, ez);
    const TPoint3D c1 = Point3DCross(ez, ex);
    const TPoint3D c2 = Point3DCross(ex, ey);
    const float D = Point3DDot(ez, c2);
    const float F = float(1.0 / double(D));
    return Create(TPoint3D(c0.X, c1.X, c2.X) * F, TPoint3D(c0.Y, c1.Y, c2.Y) * F, TPoint3D(c0.Z, c1.Z, c2.Z) * F);
}

TMatrix TMat3::ToMatrix() const { return {ex.X, ex.Y, ex.Z, ey.X, ey.Y, ey.Z, ez.X, ez.Y, ez.Z}; }

TMatrix3D TMat3::ToMatrix3D() const
{
    TMatrix3D R = TMatrix3D::Identity();
    R.m11 = ex.X; R.m12 = ex.Y; R.m13 = ex.Z;
    R.m21 = ey.X; R.m22 = ey.Y; R.m23 = ey.Z;
    R.m31 = ez.X; R.m32 = ez.Y; R.m33 = ez.Z;
    return R;
}

TPoint3D operator*(const TMat3& M, const TPoint3D& V)
{
    const double x = V.X, y = V.Y, z = V.Z;
    return {float(x * M.ex.X + y * M.ey.X + z * M.ez.X), float(x * M.ex.Y + y * M.ey.Y + z * M.ez.Y),
            float(x * M.ex.Z + y * M.ey.Z + z * M.ez.Z)};
}

TPoint3D operator*(const TPoint3D& V, const TMat3& M) { return M * V; }

TMat3 operator*(const TMat3& A, const TMat3& B) { return TMat3::Create(A * B.ex, A * B.ey, A * B.ez); }
TMat3 operator*(const TMat3& A, float F) { return TMat3::Create(A.ex * F, A.ey * F, A.ez * F); }
TMat3 operator+(const TMat3& A, const TMat3& B) { return TMat3::Create(A.ex + B.ex, A.ey + B.ey, A.ez + B.ez); }
TMat3 operator-(const TMat3& A, const TMat3& B) { return TMat3::Create(A.ex - B.ex, A.ey - B.ey, A.ez - B.ez); }

} // namespace korvane
