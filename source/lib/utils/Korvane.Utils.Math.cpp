#include "Korvane.Utils.Math.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Korvane.Utils.Vectors.h"
#include "Platform.SysUtils.h"

namespace korvane {

namespace {

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kRadToDeg = 57.29577951308232;

[[noreturn]] void RaiseUnknownOrder()
{
    throw Exception("unknown or spheric rotation is not supported");
}

} // namespace

// ---------------------------------------------------------------- TSize3D

TSize3D TSize3D::Create(int32_t AX, int32_t AY, int32_t AZ)
{
    TSize3D R;
    R.Width = AX;
    R.Height = AY;
    R.Depth = AZ;
    return R;
}

TSize3D TSize3D::Create(int32_t AVal) { return Create(AVal, AVal, AVal); }
TPoint3D TSize3D::ToPoint3D() const { return {float(Width), float(Height), float(Depth)}; }
TVector3D TSize3D::ToVector3D() const { return {float(Width), float(Height), float(Depth), 0}; }

// ---------------------------------------------------------------- tolerances and clamps

bool IsNearZero(float Value, float Epsilon)
{
    if (Epsilon == 0) return Value == 0;
    return std::fabs(Value) < Epsilon;
}

bool IsZeroPoint3D(const TPoint3D& P, float Epsilon)
{
    return IsNearZero(P.X, Epsilon) && IsNearZero(P.Y, Epsilon) && IsNearZero(P.Z, Epsilon);
}

bool IsZeroMatrix3D(const TMatrix3D& M)
{
    for (const auto& row : M.M)
        for (float v : row)
            if (!(std::fabs(v) <= 1E-4f)) return false;
    return true;
}

int32_t ClampInt(int32_t Value, int32_t ALow, int32_t AHigh)
{
    if (Value < ALow) return ALow;
    if (Value > AHigh) return AHigh;
    return Value;
}

float ClampSingle(float Value, float ALow, float AHigh)
{
    if (ALow > Value) return ALow;
    if (Value > AHigh) return AHigh;
    return Value;
}

int32_t LimitInt(int32_t Value, int32_t ALow, int32_t AHigh) { return std::min(std::max(Value, ALow), AHigh); }
float LimitSingle(float Value, float ALow, float AHigh) { return std::min(std::max(Value, ALow), AHigh); }

float WrapValue(float Value, float ALow, float AHigh)
{
    const float D = float(double(Value) - ALow);
    const float R = float(double(AHigh) - ALow);
    if (R == 0) return ALow;
    return float(double(D) - std::floor(double(D) / R) * R + ALow);
}

float NormalizeAngle(float Degrees)
{
    const float R = float(double(Degrees) - std::trunc(double(Degrees) * double(0.0027777778f)) * 360);
    if (R > 180) return float(double(R) - 360);
    if (R < -180) return float(double(R) + 360);
    return R;
}

int32_t CeilToPower(int32_t Value, int32_t Base)
{
    if (Base < 2) return Value;
    int64_t P = 1;
    while (P < Value) {
        P *= Base;
        if (P > std::numeric_limits<int32_t>::max())
            throw EArgumentException(Format("CeilToPower: no power of %d at or above %d fits 32 bits", Base, Value));
    }
    return int32_t(P);
}

// ---------------------------------------------------------------- matrix extraction

TPoint3D ExtractTranslation(const TMatrix3D& M) { return {M.m41, M.m42, M.m43}; }

TPoint3D ExtractScale(const TMatrix3D& M)
{
    auto rowLength = [](const float* r) {
        return float(std::sqrt(double(r[0]) * r[0] + double(r[1]) * r[1] + double(r[2]) * r[2] + double(r[3]) * r[3]));
    };
    return {rowLength(M.M[0]), rowLength(M.M[1]), rowLength(M.M[2])};
}

TQuaternion3D ExtractRotation(const TMatrix3D& M)
{
    const TMatrix3D S = TMatrix3D::CreateScaling(ExtractScale(M));
    const TMatrix3D R = S.Inverse() * M;
    return TQuaternion3D::Create(R);
}

TPoint3D ExtractViewDirection(const TMatrix3D& M) { return {-M.m13, -M.m23, -M.m33}; }

void MakeViewBasis(const TPoint3D& Direction, const TPoint3D& ReferenceUp, TPoint3D& Right, TPoint3D& Up)
{
    const TPoint3D D = Point3DNormalize(Direction);
    Right = Point3DNormalize(Point3DCross(D, ReferenceUp));
    if (IsZeroPoint3D(Right, 1E-7f)) Right = Point3DNormalize(Point3DCross(D, TPoint3D(1, 0, 0)));
    Up = Point3DNormalize(Point3DCross(Right, D));
    if (IsZeroPoint3D(Up, 1E-7f)) Up = Point3DNormalize(Point3DCross(Right, TPoint3D(0, 0, -1)));
}

void ExtractCameraVectors(const TMatrix3D& M, TPoint3D& Position, TPoint3D& Direction, TPoint3D& Up,
                          TPoint3D& Right)
{
    Position = M.EyePosition();
    Direction = -Point3DNormalize(TPoint3D(M.m13, M.m23, M.m33));
    MakeViewBasis(Direction, TPoint3D(0, -1, 0), Right, Up);
}

TMatrix3D MatrixToMatrix3D(const TMatrix& M)
{
    TMatrix3D R = TMatrix3D::Identity();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) R.M[i][j] = M.M[i][j];
    return R;
}

TQuaternion3D MatrixToQuaternion(const TMatrix& M) { return TQuaternion3D::Create(MatrixToMatrix3D(M)); }

// ---------------------------------------------------------------- Euler angles
//
// Every order goes through one yaw-pitch-roll rotation; the order only says
// which input angle becomes yaw, pitch and roll. Reading a matrix back solves
// (yaw, pitch, roll) = (a, b, c) and hands each solved angle back to the input
// component it came from, so both directions use the same permutation.

TMatrix EulerAnglesToMatrix(const TPoint3D& Angles, uint8_t Order)
{
    auto rad = [](float deg) { return float(double(WrapValue(deg, 0, 360)) * kDegToRad); };
    const float x = rad(Angles.X), y = rad(Angles.Y), z = rad(Angles.Z);
    float yaw, pitch, roll;
    switch (Order) {
    case 0: yaw = x; pitch = y; roll = z; break;
    case 1: yaw = y; pitch = x; roll = z; break;
    case 2: yaw = z; pitch = x; roll = y; break;
    case 3: yaw = z; pitch = y; roll = x; break;
    case 4: yaw = y; pitch = z; roll = x; break;
    case 5: yaw = x; pitch = z; roll = y; break;
    default: RaiseUnknownOrder();
    }
    return TMatrix3D::CreateRotationYawPitchRoll(yaw, pitch, roll).ToMatrix();
}

TPoint3D MatrixToEulerAngles(const TMatrix& M, uint8_t Order)
{
    if (Order > 5) RaiseUnknownOrder();
    const double m11 = M.m11, m12 = M.m12, m13 = M.m13, m21 = M.m21, m23 = M.m23, m31 = M.m31, m33 = M.m33;
    double a, b, c;
    // At m13 = -1 or +1 the yaw is +90 or -90 degrees and pitch and roll turn
    // about the same axis: only their difference (sum) is known, and it all
    // goes into the pitch with a roll of 0. Rounding can push m13 a little
    // beyond 1; such a matrix is treated as the gimbal case as well.
    if (m13 <= -1.0 || std::fabs(-1.0 - m13) < double(SingleEpsilon)) {
        a = 1.5707964f;
        b = std::atan2(m21, m31);
        c = 0;
    } else if (m13 >= 1.0 || std::fabs(1.0 - m13) < double(SingleEpsilon)) {
        a = -1.5707964f;
        b = std::atan2(-m21, -m31);
        c = 0;
    } else {
        const double t1 = -std::asin(m13);
        const double t2 = 3.141592653589793 - t1;
        const double c1 = std::cos(t1), c2 = std::cos(t2);
        const double p1 = std::atan2(m23 / c1, m33 / c1), p2 = std::atan2(m23 / c2, m33 / c2);
        const double r1 = std::atan2(m12 / c1, m11 / c1), r2 = std::atan2(m12 / c2, m11 / c2);
        if (t2 * t2 + p2 * p2 + r2 * r2 > t1 * t1 + p1 * p1 + r1 * r1) {
            a = t1; b = p1; c = r1;
        } else {
            a = t2; b = p2; c = r2;
        }
    }
    const float da = float(a * kRadToDeg), db = float(b * kRadToDeg), dc = float(c * kRadToDeg);
    TPoint3D R;
    switch (Order) {
    case 0: R = {da, db, dc}; break;  // yaw from X, pitch from Y, roll from Z
    case 1: R = {db, da, dc}; break;  // yaw from Y, pitch from X, roll from Z
    case 2: R = {db, dc, da}; break;  // yaw from Z, pitch from X, roll from Y
    case 3: R = {dc, db, da}; break;  // yaw from Z, pitch from Y, roll from X
    case 4: R = {dc, da, db}; break;  // yaw from Y, pitch from Z, roll from X
    default: R = {da, dc, db}; break; // yaw from X, pitch from Z, roll from Y
    }
    return {NormalizeAngle(R.X), NormalizeAngle(R.Y), NormalizeAngle(R.Z)};
}

TQuaternion3D EulerAnglesToQuaternion(const TPoint3D& Angles, uint8_t Order)
{
    return MatrixToQuaternion(EulerAnglesToMatrix(Angles, Order));
}

TPoint3D QuaternionToEulerAngles(const TQuaternion3D& Q, uint8_t Order)
{
    return MatrixToEulerAngles(Q.ToMatrix3D().ToMatrix(), Order);
}

TQuaternion3D RotationAngleToQuaternion(TPoint3D Angles, uint8_t Order) { return EulerAnglesToQuaternion(Angles, Order); }
TPoint3D QuaternionToRotationAngle(TQuaternion3D Q, uint8_t Order) { return QuaternionToEulerAngles(Q, Order); }

} // namespace korvane
