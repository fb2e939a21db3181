#pragma once
// Tolerance tests, clamps, angle wrapping, power rounding, extraction of
// translation, scale, rotation and camera vectors from matrices, Euler-angle
// conversions in six axis orders, and the integer size record TSize3D.

#include <cstdint>

#include "Platform.Math3D.h"

namespace korvane {

// Width, Height and Depth, also addressable as X, Y, Z and as Data[0..2].
struct TSize3D {
    union {
        struct {
            int32_t Width, Height, Depth;
        };
        struct {
            int32_t X, Y, Z;
        };
        int32_t Data[3];
    };

    constexpr TSize3D() : Width(0), Height(0), Depth(0) {}
    static TSize3D Create(int32_t AX, int32_t AY, int32_t AZ);
    static TSize3D Create(int32_t AVal);
    TPoint3D ToPoint3D() const;
    // The three as floats, W = 0.
    TVector3D ToVector3D() const;
};

// Epsilon = 0: Value is exactly 0; otherwise |Value| < Epsilon (strict).
bool IsNearZero(float Value, float Epsilon);
bool IsZeroPoint3D(const TPoint3D& P, float Epsilon);
// Every entry within 1E-4 of zero (inclusive).
bool IsZeroMatrix3D(const TMatrix3D& M);

// Value < ALow gives ALow, else Value > AHigh gives AHigh, else Value.
int32_t ClampInt(int32_t Value, int32_t ALow, int32_t AHigh);
float ClampSingle(float Value, float ALow, float AHigh);
// Min(Max(Value, ALow), AHigh): differs from the clamps only when ALow > AHigh.
int32_t LimitInt(int32_t Value, int32_t ALow, int32_t AHigh);
float LimitSingle(float Value, float ALow, float AHigh);
// Value wrapped into [ALow, AHigh); an empty range (ALow = AHigh) gives ALow.
float WrapValue(float Value, float ALow, float AHigh);
// Degrees folded into [-180, 180].
float NormalizeAngle(float Degrees);
// The smallest integral power of Base not below Value (Value >= 1, Base >= 2).
// A Value below 1 gives 1; a Base below 2 gives Value unchanged. Raises
// EArgumentException when the power does not fit a 32-bit integer.
int32_t CeilToPower(int32_t Value, int32_t Base);

TPoint3D ExtractTranslation(const TMatrix3D& M);
// Lengths of rows 1, 2 and 3, each taken with all four of its entries.
TPoint3D ExtractScale(const TMatrix3D& M);
TQuaternion3D ExtractRotation(const TMatrix3D& M);
// (-m13, -m23, -m33), not normalised.
TPoint3D ExtractViewDirection(const TMatrix3D& M);
void ExtractCameraVectors(const TMatrix3D& M, TPoint3D& Position, TPoint3D& Direction, TPoint3D& Up,
                          TPoint3D& Right);
void MakeViewBasis(const TPoint3D& Direction, const TPoint3D& ReferenceUp, TPoint3D& Right, TPoint3D& Up);
TMatrix3D MatrixToMatrix3D(const TMatrix& M);
TQuaternion3D MatrixToQuaternion(const TMatrix& M);

// Euler angles in degrees, order codes 0 .. 5 = XYZ, YXZ, ZXY, ZYX, YZX, XZY.
// Any other code raises Exception "unknown or spheric rotation is not supported".
TMatrix EulerAnglesToMatrix(const TPoint3D& Angles, uint8_t Order);
TPoint3D MatrixToEulerAngles(const TMatrix& M, uint8_t Order);
TQuaternion3D EulerAnglesToQuaternion(const TPoint3D& Angles, uint8_t Order);
TPoint3D QuaternionToEulerAngles(const TQuaternion3D& Q, uint8_t Order);
TQuaternion3D RotationAngleToQuaternion(TPoint3D Angles, uint8_t Order);
TPoint3D QuaternionToRotationAngle(TQuaternion3D Q, uint8_t Order);

} // namespace korvane
