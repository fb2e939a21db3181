#include "Platform.Math3D.h"

#include <algorithm>
#include <cmath>

namespace korvane {

namespace {

// Double-precision scratch forms: every formula evaluates through these and
// rounds once when the result is stored.
struct D3 {
    double x, y, z;
};

D3 ToD(const TPoint3D& P) { return {P.X, P.Y, P.Z}; }
TPoint3D ToF(const D3& P) { return {float(P.x), float(P.y), float(P.z)}; }
double Dot(const D3& A, const D3& B) { return A.x * B.x + A.y * B.y + A.z * B.z; }
D3 Cross(const D3& A, const D3& B)
{
    return {A.y * B.z - A.z * B.y, A.z * B.x - A.x * B.z, A.x * B.y - A.y * B.x};
}
D3 Normalized(const D3& A)
{
    const double L = std::sqrt(Dot(A, A));
    if (L == 0) return {0, 0, 0};
    return {A.x / L, A.y / L, A.z / L};
}

using D44 = double[4][4];

void ToD(const TMatrix3D& M, D44& R)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) R[i][j] = M.M[i][j];
}

TMatrix3D ToF(const D44& R)
{
    TMatrix3D M;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) M.M[i][j] = float(R[i][j]);
    return M;
}

// View matrix from an eye and a unit forward direction F (right-handed: the
// view looks along its -Z).
TMatrix3D LookAlong(const D3& Eye, const D3& F, const D3& Ceiling)
{
    const D3 S = Normalized(Cross(F, Ceiling));
    const D3 U = Cross(S, F);
    TMatrix3D M = TMatrix3D::Identity();
    M.m11 = float(S.x); M.m21 = float(S.y); M.m31 = float(S.z);
    M.m12 = float(U.x); M.m22 = float(U.y); M.m32 = float(U.z);
    M.m13 = float(-F.x); M.m23 = float(-F.y); M.m33 = float(-F.z);
    M.m41 = float(-Dot(S, Eye));
    M.m42 = float(-Dot(U, Eye));
    M.m43 = float(Dot(F, Eye));
    return M;
}

} // namespace

// ---------------------------------------------------------------- 2D

TPointF operator+(const TPointF& A, const TPointF& B)
{
    return {float(double(A.X) + B.X), float(double(A.Y) + B.Y)};
}
TPointF operator-(const TPointF& A, const TPointF& B)
{
    return {float(double(A.X) - B.X), float(double(A.Y) - B.Y)};
}
TPointF operator*(const TPointF& A, float F) { return {float(double(A.X) * F), float(double(A.Y) * F)}; }
float TPointF::Length() const { return float(std::hypot(double(X), double(Y))); }

TPointF TRectF::CenterPoint() const
{
    return {float((double(Left) + Right) / 2), float((double(Top) + Bottom) / 2)};
}

// ---------------------------------------------------------------- TPoint3D

TPoint3D operator+(const TPoint3D& A, const TPoint3D& B)
{
    return {float(double(A.X) + B.X), float(double(A.Y) + B.Y), float(double(A.Z) + B.Z)};
}
TPoint3D operator-(const TPoint3D& A, const TPoint3D& B)
{
    return {float(double(A.X) - B.X), float(double(A.Y) - B.Y), float(double(A.Z) - B.Z)};
}
TPoint3D operator-(const TPoint3D& A) { return {-A.X, -A.Y, -A.Z}; }
TPoint3D operator*(const TPoint3D& A, float F)
{
    return {float(double(A.X) * F), float(double(A.Y) * F), float(double(A.Z) * F)};
}
TPoint3D operator*(float F, const TPoint3D& A) { return A * F; }
TPoint3D operator/(const TPoint3D& A, float F)
{
    return {float(double(A.X) / F), float(double(A.Y) / F), float(double(A.Z) / F)};
}

TPoint3D operator*(const TPoint3D& P, const TMatrix3D& M)
{
    const double x = P.X, y = P.Y, z = P.Z;
    return {float(x * M.m11 + y * M.m21 + z * M.m31 + double(M.m41)),
            float(x * M.m12 + y * M.m22 + z * M.m32 + double(M.m42)),
            float(x * M.m13 + y * M.m23 + z * M.m33 + double(M.m43))};
}

TPoint3D TPoint3D::TransformDirection(const TMatrix3D& M) const
{
    const double x = X, y = Y, z = Z;
    return {float(x * M.m11 + y * M.m21 + z * M.m31), float(x * M.m12 + y * M.m22 + z * M.m32),
            float(x * M.m13 + y * M.m23 + z * M.m33)};
}

float TPoint3D::DotProduct(const TPoint3D& B) const { return float(Dot(ToD(*this), ToD(B))); }
TPoint3D TPoint3D::CrossProduct(const TPoint3D& B) const { return ToF(Cross(ToD(*this), ToD(B))); }
float TPoint3D::Length() const { return float(std::sqrt(Dot(ToD(*this), ToD(*this)))); }
float TPoint3D::LengthSq() const { return float(Dot(ToD(*this), ToD(*this))); }
float TPoint3D::Distance(const TPoint3D& B) const
{
    const D3 d{double(B.X) - X, double(B.Y) - Y, double(B.Z) - Z};
    return float(std::sqrt(Dot(d, d)));
}
TPoint3D TPoint3D::Normalize() const { return ToF(Normalized(ToD(*this))); }

// ---------------------------------------------------------------- TVector3D

TVector3D operator+(const TVector3D& A, const TVector3D& B)
{
    return {float(double(A.X) + B.X), float(double(A.Y) + B.Y), float(double(A.Z) + B.Z), float(double(A.W) + B.W)};
}
TVector3D operator-(const TVector3D& A, const TVector3D& B)
{
    return {float(double(A.X) - B.X), float(double(A.Y) - B.Y), float(double(A.Z) - B.Z), float(double(A.W) - B.W)};
}
TVector3D operator-(const TVector3D& A) { return {-A.X, -A.Y, -A.Z, -A.W}; }
TVector3D operator*(const TVector3D& A, float F)
{
    return {float(double(A.X) * F), float(double(A.Y) * F), float(double(A.Z) * F), float(double(A.W) * F)};
}
TVector3D operator*(float F, const TVector3D& A) { return A * F; }

TVector3D operator*(const TVector3D& V, const TMatrix3D& M)
{
    const double v[4] = {V.X, V.Y, V.Z, V.W};
    float r[4];
    for (int j = 0; j < 4; ++j) {
        double s = 0;
        for (int k = 0; k < 4; ++k) s += v[k] * M.M[k][j];
        r[j] = float(s);
    }
    return {r[0], r[1], r[2], r[3]};
}

TVector3D::operator TPoint3D() const
{
    if (std::fabs(W) < VectorWEpsilon) return {X, Y, Z};
    return {float(double(X) / W), float(double(Y) / W), float(double(Z) / W)};
}

// ---------------------------------------------------------------- TMatrix

TMatrix operator*(const TMatrix& A, const TMatrix& B)
{
    TMatrix R;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double s = 0;
            for (int k = 0; k < 3; ++k) s += double(A.M[i][k]) * B.M[k][j];
            R.M[i][j] = float(s);
        }
    return R;
}

bool operator==(const TMatrix& A, const TMatrix& B)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (A.M[i][j] != B.M[i][j]) return false;
    return true;
}

float TMatrix::Determinant() const
{
    const double a = m11, b = m12, c = m13, d = m21, e = m22, f = m23, g = m31, h = m32, i = m33;
    return float(a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g));
}

// ---------------------------------------------------------------- TMatrix3D

TMatrix3D TMatrix3D::CreateScaling(const TPoint3D& S)
{
    TMatrix3D M = Identity();
    M.m11 = S.X;
    M.m22 = S.Y;
    M.m33 = S.Z;
    return M;
}

TMatrix3D TMatrix3D::CreateTranslation(const TPoint3D& T)
{
    TMatrix3D M = Identity();
    M.m41 = T.X;
    M.m42 = T.Y;
    M.m43 = T.Z;
    return M;
}

TMatrix3D TMatrix3D::CreateRotationX(float Angle)
{
    const double s = std::sin(double(Angle)), c = std::cos(double(Angle));
    TMatrix3D M = Identity();
    M.m22 = float(c); M.m23 = float(s);
    M.m32 = float(-s); M.m33 = float(c);
    return M;
}

TMatrix3D TMatrix3D::CreateRotationY(float Angle)
{
    const double s = std::sin(double(Angle)), c = std::cos(double(Angle));
    TMatrix3D M = Identity();
    M.m11 = float(c); M.m13 = float(-s);
    M.m31 = float(s); M.m33 = float(c);
    return M;
}

TMatrix3D TMatrix3D::CreateRotationZ(float Angle)
{
    const double s = std::sin(double(Angle)), c = std::cos(double(Angle));
    TMatrix3D M = Identity();
    M.m11 = float(c); M.m12 = float(s);
    M.m21 = float(-s); M.m22 = float(c);
    return M;
}

TMatrix3D TMatrix3D::CreateRotation(const TPoint3D& Axis, float Angle)
{
    const D3 n = Normalized(ToD(Axis));
    const double s = std::sin(double(Angle)), c = std::cos(double(Angle)), t = 1 - c;
    const double x = n.x, y = n.y, z = n.z;
    TMatrix3D M = Identity();
    M.m11 = float(t * x * x + c); M.m12 = float(t * x * y + s * z); M.m13 = float(t * x * z - s * y);
    M.m21 = float(t * x * y - s * z); M.m22 = float(t * y * y + c); M.m23 = float(t * y * z + s * x);
    M.m31 = float(t * x * z + s * y); M.m32 = float(t * y * z - s * x); M.m33 = float(t * z * z + c);
    return M;
}

TMatrix3D TMatrix3D::CreateRotationYawPitchRoll(float Yaw, float Pitch, float Roll)
{
    const double sy = std::sin(double(Yaw)), cy = std::cos(double(Yaw));
    const double sp = std::sin(double(Pitch)), cp = std::cos(double(Pitch));
    const double sr = std::sin(double(Roll)), cr = std::cos(double(Roll));
    TMatrix3D M = Identity();
    M.m11 = float(cy * cr);
    M.m12 = float(cy * sr);
    M.m13 = float(-sy);
    M.m21 = float(sp * sy * cr - cp * sr);
    M.m22 = float(sp * sy * sr + cp * cr);
    M.m23 = float(sp * cy);
    M.m31 = float(cp * sy * cr + sp * sr);
    M.m32 = float(cp * sy * sr - sp * cr);
    M.m33 = float(cp * cy);
    return M;
}

TMatrix3D TMatrix3D::CreatePerspectiveFovRH(float FOV, float Aspect, float ANear, float AFar)
{
    const double f = 1.0 / std::tan(double(FOV) / 2);
    const double n = ANear, fa = AFar;
    TMatrix3D M;
    M.m11 = float(f / Aspect);
    M.m22 = float(f);
    M.m33 = float(-(fa + n) / (fa - n));
    M.m34 = -1;
    M.m43 = float(-2 * fa * n / (fa - n));
    return M;
}

TMatrix3D TMatrix3D::CreateOrthoOffCenterRH(float Left, float Top, float Right, float Bottom, float ANear,
                                            float AFar)
{
    const double l = Left, t = Top, r = Right, b = Bottom, n = ANear, f = AFar;
    TMatrix3D M = Identity();
    M.m11 = float(2 / (r - l));
    M.m22 = float(2 / (t - b));
    M.m33 = float(-2 / (f - n));
    M.m41 = float(-(r + l) / (r - l));
    M.m42 = float(-(t + b) / (t - b));
    M.m43 = float(-(f + n) / (f - n));
    return M;
}

TMatrix3D TMatrix3D::CreateLookAtRH(const TPoint3D& Source, const TPoint3D& Target, const TPoint3D& Ceiling)
{
    const D3 eye = ToD(Source);
    const D3 target = ToD(Target);
    return LookAlong(eye, Normalized({target.x - eye.x, target.y - eye.y, target.z - eye.z}), ToD(Ceiling));
}

TMatrix3D TMatrix3D::CreateLookAtDirRH(const TPoint3D& Source, const TPoint3D& Direction, const TPoint3D& Ceiling)
{
    return LookAlong(ToD(Source), Normalized(ToD(Direction)), ToD(Ceiling));
}

TMatrix3D operator*(const TMatrix3D& A, const TMatrix3D& B)
{
    // A row of the result at a time, so that its four sums run side by side
    // (every draw multiplies matrices); each sum still adds its products in
    // the order k = 0..3, so the result is the same to the bit.
    TMatrix3D R;
    for (int i = 0; i < 4; ++i) {
        double s[4] = {0, 0, 0, 0};
        for (int k = 0; k < 4; ++k) {
            const double a = A.M[i][k];
            for (int j = 0; j < 4; ++j) s[j] += a * double(B.M[k][j]);
        }
        for (int j = 0; j < 4; ++j) R.M[i][j] = float(s[j]);
    }
    return R;
}

TMatrix3D operator*(const TMatrix3D& A, float F)
{
    TMatrix3D R;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) R.M[i][j] = float(double(A.M[i][j]) * F);
    return R;
}

TMatrix3D operator+(const TMatrix3D& A, const TMatrix3D& B)
{
    TMatrix3D R;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) R.M[i][j] = float(double(A.M[i][j]) + B.M[i][j]);
    return R;
}

bool operator==(const TMatrix3D& A, const TMatrix3D& B)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (A.M[i][j] != B.M[i][j]) return false;
    return true;
}

TMatrix3D TMatrix3D::Transpose() const
{
    TMatrix3D R;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) R.M[i][j] = M[j][i];
    return R;
}

namespace {

// Cofactor expansion of a 4 x 4 matrix in double; Inv receives the adjugate.
double Adjugate(const D44& m, D44& inv)
{
    const double s0 = m[0][0] * m[1][1] - m[1][0] * m[0][1];
    const double s1 = m[0][0] * m[1][2] - m[1][0] * m[0][2];
    const double s2 = m[0][0] * m[1][3] - m[1][0] * m[0][3];
    const double s3 = m[0][1] * m[1][2] - m[1][1] * m[0][2];
    const double s4 = m[0][1] * m[1][3] - m[1][1] * m[0][3];
    const double s5 = m[0][2] * m[1][3] - m[1][2] * m[0][3];
    const double c5 = m[2][2] * m[3][3] - m[3][2] * m[2][3];
    const double c4 = m[2][1] * m[3][3] - m[3][1] * m[2][3];
    const double c3 = m[2][1] * m[3][2] - m[3][1] * m[2][2];
    const double c2 = m[2][0] * m[3][3] - m[3][0] * m[2][3];
    const double c1 = m[2][0] * m[3][2] - m[3][0] * m[2][2];
    const double c0 = m[2][0] * m[3][1] - m[3][0] * m[2][1];

    inv[0][0] = m[1][1] * c5 - m[1][2] * c4 + m[1][3] * c3;
    inv[0][1] = -m[0][1] * c5 + m[0][2] * c4 - m[0][3] * c3;
    inv[0][2] = m[3][1] * s5 - m[3][2] * s4 + m[3][3] * s3;
    inv[0][3] = -m[2][1] * s5 + m[2][2] * s4 - m[2][3] * s3;
    inv[1][0] = -m[1][0] * c5 + m[1][2] * c2 - m[1][3] * c1;
    inv[1][1] = m[0][0] * c5 - m[0][2] * c2 + m[0][3] * c1;
    inv[1][2] = -m[3][0] * s5 + m[3][2] * s2 - m[3][3] * s1;
    inv[1][3] = m[2][0] * s5 - m[2][2] * s2 + m[2][3] * s1;
    inv[2][0] = m[1][0] * c4 - m[1][1] * c2 + m[1][3] * c0;
    inv[2][1] = -m[0][0] * c4 + m[0][1] * c2 - m[0][3] * c0;
    inv[2][2] = m[3][0] * s4 - m[3][1] * s2 + m[3][3] * s0;
    inv[2][3] = -m[2][0] * s4 + m[2][1] * s2 - m[2][3] * s0;
    inv[3][0] = -m[1][0] * c3 + m[1][1] * c1 - m[1][2] * c0;
    inv[3][1] = m[0][0] * c3 - m[0][1] * c1 + m[0][2] * c0;
    inv[3][2] = -m[3][0] * s3 + m[3][1] * s1 - m[3][2] * s0;
    inv[3][3] = m[2][0] * s3 - m[2][1] * s1 + m[2][2] * s0;

    return s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
}

} // namespace

double TMatrix3D::Determinant() const
{
    D44 m, inv;
    ToD(*this, m);
    return Adjugate(m, inv);
}

TMatrix3D TMatrix3D::Inverse() const
{
    D44 m, inv;
    ToD(*this, m);
    const double det = Adjugate(m, inv);
    if (det == 0) return Identity();
    for (auto& row : inv)
        for (double& v : row) v /= det;
    return ToF(inv);
}

TPoint3D TMatrix3D::EyePosition() const
{
    D44 m, inv;
    ToD(*this, m);
    const double det = Adjugate(m, inv);
    if (det == 0) return {0, 0, 0};
    // The origin times the inverse is the inverse's last row.
    const double w = inv[3][3] / det;
    const double scale = std::fabs(w) < VectorWEpsilon ? 1.0 / det : 1.0 / (det * w);
    return {float(inv[3][0] * scale), float(inv[3][1] * scale), float(inv[3][2] * scale)};
}

TMatrix TMatrix3D::ToMatrix() const { return {m11, m12, m13, m21, m22, m23, m31, m32, m33}; }

// ---------------------------------------------------------------- TQuaternion3D

TQuaternion3D TQuaternion3D::Create(const TPoint3D& Axis, float Angle)
{
    const D3 n = Normalized(ToD(Axis));
    if (n.x == 0 && n.y == 0 && n.z == 0) return Identity();
    const double s = std::sin(double(Angle) / 2), c = std::cos(double(Angle) / 2);
    return {TPoint3D(float(n.x * s), float(n.y * s), float(n.z * s)), float(c)};
}

TQuaternion3D TQuaternion3D::Create(const TMatrix3D& M)
{
    const double m11 = M.m11, m12 = M.m12, m13 = M.m13;
    const double m21 = M.m21, m22 = M.m22, m23 = M.m23;
    const double m31 = M.m31, m32 = M.m32, m33 = M.m33;
    // A zero matrix holds no rotation at all.
    if (m11 == 0 && m12 == 0 && m13 == 0 && m21 == 0 && m22 == 0 && m23 == 0 && m31 == 0 && m32 == 0 && m33 == 0)
        return Identity();
    double x, y, z, w;
    const double tr = m11 + m22 + m33;
    // Row-vector form: the off-diagonal pairs are the transposes of the
    // column-vector formulas.
    if (tr > 0) {
        const double s = 0.5 / std::sqrt(tr + 1);
        w = 0.25 / s;
        x = (m23 - m32) * s;
        y = (m31 - m13) * s;
        z = (m12 - m21) * s;
    } else if (m11 > m22 && m11 > m33) {
        const double s = 2 * std::sqrt(1 + m11 - m22 - m33);
        w = (m23 - m32) / s;
        x = 0.25 * s;
        y = (m12 + m21) / s;
        z = (m13 + m31) / s;
    } else if (m22 > m33) {
        const double s = 2 * std::sqrt(1 + m22 - m11 - m33);
        w = (m31 - m13) / s;
        x = (m12 + m21) / s;
        y = 0.25 * s;
        z = (m23 + m32) / s;
    } else {
        const double s = 2 * std::sqrt(1 + m33 - m11 - m22);
        w = (m12 - m21) / s;
        x = (m13 + m31) / s;
        y = (m23 + m32) / s;
        z = 0.25 * s;
    }
    const double l = std::sqrt(x * x + y * y + z * z + w * w);
    if (!(l > 0) || !std::isfinite(l)) return Identity();
    return {TPoint3D(float(x / l), float(y / l), float(z / l)), float(w / l)};
}

TQuaternion3D TQuaternion3D::Create(float Yaw, float Pitch, float Roll)
{
    return Create(TPoint3D(1, 0, 0), Pitch) * Create(TPoint3D(0, 1, 0), Yaw) * Create(TPoint3D(0, 0, 1), Roll);
}

TQuaternion3D RotationAnglesToQuaternion(const TPoint3D& AnglesInDegrees)
{
    return TQuaternion3D::Create(DegToRad(AnglesInDegrees.Y), DegToRad(AnglesInDegrees.X), DegToRad(AnglesInDegrees.Z));
}

TQuaternion3D operator*(const TQuaternion3D& A, const TQuaternion3D& B)
{
    // The Hamilton product B (x) A: rotating by A and then by B.
    const D3 a = ToD(A.ImagPart), b = ToD(B.ImagPart);
    const double aw = A.RealPart, bw = B.RealPart;
    const D3 c = Cross(b, a);
    return {TPoint3D(float(bw * a.x + aw * b.x + c.x), float(bw * a.y + aw * b.y + c.y),
                     float(bw * a.z + aw * b.z + c.z)),
            float(bw * aw - Dot(b, a))};
}

float TQuaternion3D::Length() const
{
    const double x = ImagPart.X, y = ImagPart.Y, z = ImagPart.Z, w = RealPart;
    return float(std::sqrt(x * x + y * y + z * z + w * w));
}

TQuaternion3D TQuaternion3D::Normalize() const
{
    const double x = ImagPart.X, y = ImagPart.Y, z = ImagPart.Z, w = RealPart;
    const double l = std::sqrt(x * x + y * y + z * z + w * w);
    if (l == 0) return Identity();
    return {TPoint3D(float(x / l), float(y / l), float(z / l)), float(w / l)};
}

TQuaternion3D::operator TMatrix3D() const
{
    const double x = ImagPart.X, y = ImagPart.Y, z = ImagPart.Z, w = RealPart;
    const double n = x * x + y * y + z * z + w * w;
    TMatrix3D M = TMatrix3D::Identity();
    if (n == 0) return M;
    const double s = 2 / n;
    M.m11 = float(1 - s * (y * y + z * z));
    M.m12 = float(s * (x * y + z * w));
    M.m13 = float(s * (x * z - y * w));
    M.m21 = float(s * (x * y - z * w));
    M.m22 = float(1 - s * (x * x + z * z));
    M.m23 = float(s * (y * z + x * w));
    M.m31 = float(s * (x * z + y * w));
    M.m32 = float(s * (y * z - x * w));
    M.m33 = float(1 - s * (x * x + y * y));
    return M;
}

// ---------------------------------------------------------------- TBoundingBox

TBoundingBox::TBoundingBox(const TPoint3D& A, const TPoint3D& B)
    : Left(std::min(A.X, B.X)), Top(std::min(A.Y, B.Y)), Near(std::min(A.Z, B.Z)),
      Right(std::max(A.X, B.X)), Bottom(std::max(A.Y, B.Y)), Far(std::max(A.Z, B.Z))
{
}

TBoundingBox TBoundingBox::Create(std::span<const TPoint3D> Points)
{
    if (Points.empty()) return {};
    TBoundingBox R(Points[0], Points[0]);
    for (const TPoint3D& P : Points.subspan(1)) {
        R.Left = std::min(R.Left, P.X);
        R.Top = std::min(R.Top, P.Y);
        R.Near = std::min(R.Near, P.Z);
        R.Right = std::max(R.Right, P.X);
        R.Bottom = std::max(R.Bottom, P.Y);
        R.Far = std::max(R.Far, P.Z);
    }
    return R;
}

TBoundingBox TBoundingBox::Normalize() const
{
    return TBoundingBox(TPoint3D(Left, Top, Near), TPoint3D(Right, Bottom, Far));
}

TPoint3D TBoundingBox::CenterPoint() const
{
    return {float((double(Left) + Right) / 2), float((double(Top) + Bottom) / 2), float((double(Near) + Far) / 2)};
}

TBoundingBox TBoundingBox::Union(const TBoundingBox& B) const
{
    return {std::min(Left, B.Left),   std::min(Top, B.Top),       std::min(Near, B.Near),
            std::max(Right, B.Right), std::max(Bottom, B.Bottom), std::max(Far, B.Far)};
}

bool TBoundingBox::Contains(const TPoint3D& P) const
{
    return P.X >= Left && P.X <= Right && P.Y >= Top && P.Y <= Bottom && P.Z >= Near && P.Z <= Far;
}

TBoundingBox TBoundingBox::FitInto(const TBoundingBox& ADesignatedArea, float& ARatio) const
{
    const TBoundingBox box = Normalize();
    const TBoundingBox area = ADesignatedArea.Normalize();
    double ratio = 0;
    const double extents[3][2] = {{box.Width(), area.Width()}, {box.Height(), area.Height()},
                                  {box.Depth(), area.Depth()}};
    for (const auto& e : extents)
        if (e[1] > 0) ratio = std::max(ratio, e[0] / e[1]);
    ARatio = float(ratio);
    const TPoint3D centre = area.CenterPoint();
    if (!(ratio > 0) || !std::isfinite(ratio)) return TBoundingBox(centre, centre);
    const TPoint3D half(float(box.Width() / ratio / 2), float(box.Height() / ratio / 2),
                        float(box.Depth() / ratio / 2));
    return TBoundingBox(centre - half, centre + half);
}

// ---------------------------------------------------------------- colours

TAlphaColorF TAlphaColorF::Create(TAlphaColor C)
{
    return {float(RedOf(C) / 255.0), float(GreenOf(C) / 255.0), float(BlueOf(C) / 255.0), float(AlphaOf(C) / 255.0)};
}

TAlphaColor TAlphaColorF::ToAlphaColor() const
{
    auto channel = [](float v) -> uint8_t {
        if (!(v >= 0)) return 0;  // negative or NaN
        const double c = std::min(double(v), 1.0);
        return uint8_t(std::lround(c * 255));
    };
    return MakeAlphaColor(channel(R), channel(G), channel(B), channel(A));
}

TAlphaColorF operator+(const TAlphaColorF& A, const TAlphaColorF& B)
{
    return {float(double(A.R) + B.R), float(double(A.G) + B.G), float(double(A.B) + B.B), float(double(A.A) + B.A)};
}
TAlphaColorF operator-(const TAlphaColorF& A, const TAlphaColorF& B)
{
    return {float(double(A.R) - B.R), float(double(A.G) - B.G), float(double(A.B) - B.B), float(double(A.A) - B.A)};
}
TAlphaColorF operator*(const TAlphaColorF& A, float F)
{
    return {float(double(A.R) * F), float(double(A.G) * F), float(double(A.B) * F), float(double(A.A) * F)};
}

} // namespace korvane
