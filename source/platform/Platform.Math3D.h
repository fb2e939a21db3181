#pragma once
// The platform's math value types: points, vectors, 4 x 4 and 3 x 3 matrices,
// quaternions, 2D points, rectangles and sizes, bounding boxes and colours.
//
// Conventions, used by every formula here and by the framework above:
// - Row vectors. A point is (x, y, z, 1) x M, a direction (x, y, z, 0) x M, and
//   A x B applies A first. Translation lives in m41, m42, m43.
// - Rotations are right-handed: a positive angle about an axis turns the next
//   axis towards the one after it (about Z, X turns towards Y).
// - Look-at and projection matrices are right-handed (the camera looks along its
//   -Z) and projections are GL-style (clip depth -1 .. 1): m33 = -(f + n) / (f - n),
//   m34 = -1, m43 = -2fn / (f - n).
// - Values are stored as float; inside one formula sums, products and quotients
//   are evaluated in double and rounded once when stored.
// - Normalising a zero-length vector leaves it zero.

#include <cstdint>
#include <initializer_list>
#include <span>

namespace korvane {

// The smallest magnitude the platform treats as distinct from zero in its
// Single comparisons (the nearest float to 1E-40).
inline constexpr float SingleEpsilon = 1E-40f;
// |W| below this leaves X, Y, Z undivided when a vector becomes a point.
inline constexpr float VectorWEpsilon = 1E-4f;

struct TVector3D;
struct TMatrix3D;
struct TMatrix;

// ---------------------------------------------------------------- 2D values

struct TPointF {
    float X = 0, Y = 0;

    constexpr TPointF() = default;
    constexpr TPointF(float AX, float AY) : X(AX), Y(AY) {}
    static constexpr TPointF Create(float AX, float AY) { return {AX, AY}; }

    friend TPointF operator+(const TPointF& A, const TPointF& B);
    friend TPointF operator-(const TPointF& A, const TPointF& B);
    friend TPointF operator*(const TPointF& A, float F);
    friend constexpr bool operator==(const TPointF& A, const TPointF& B) = default;
    float Length() const;
};

// A point of two 32-bit integers (pixel positions, sizes handed to the GPU).
struct TPoint {
    int32_t X = 0, Y = 0;
    constexpr TPoint() = default;
    constexpr TPoint(int32_t AX, int32_t AY) : X(AX), Y(AY) {}
    friend constexpr bool operator==(const TPoint& A, const TPoint& B) = default;
};

struct TSize {
    int32_t Width = 0, Height = 0;
    constexpr TSize() = default;
    constexpr TSize(int32_t AWidth, int32_t AHeight) : Width(AWidth), Height(AHeight) {}
    friend constexpr bool operator==(const TSize& A, const TSize& B) = default;
};

struct TSizeF {
    float Width = 0, Height = 0;
    constexpr TSizeF() = default;
    constexpr TSizeF(float AWidth, float AHeight) : Width(AWidth), Height(AHeight) {}
    friend constexpr bool operator==(const TSizeF& A, const TSizeF& B) = default;
};

struct TRectF {
    float Left = 0, Top = 0, Right = 0, Bottom = 0;

    constexpr TRectF() = default;
    constexpr TRectF(float ALeft, float ATop, float ARight, float ABottom)
        : Left(ALeft), Top(ATop), Right(ARight), Bottom(ABottom) {}
    constexpr TRectF(const TPointF& ATopLeft, float AWidth, float AHeight)
        : Left(ATopLeft.X), Top(ATopLeft.Y), Right(ATopLeft.X + AWidth), Bottom(ATopLeft.Y + AHeight) {}

    float Width() const { return Right - Left; }
    float Height() const { return Bottom - Top; }
    TSizeF Size() const { return {Width(), Height()}; }
    TPointF TopLeft() const { return {Left, Top}; }
    TPointF CenterPoint() const;
    bool IsEmpty() const { return !(Right > Left) || !(Bottom > Top); }
    // Inside when Left <= X < Right and Top <= Y < Bottom.
    bool Contains(const TPointF& P) const { return P.X >= Left && P.X < Right && P.Y >= Top && P.Y < Bottom; }
    void Offset(float DX, float DY) { Left += DX; Right += DX; Top += DY; Bottom += DY; }
    friend constexpr bool operator==(const TRectF& A, const TRectF& B) = default;
};

// A rectangle of whole pixels; Right and Bottom lie just outside it.
struct TRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    constexpr TRect() = default;
    constexpr TRect(int32_t ALeft, int32_t ATop, int32_t ARight, int32_t ABottom)
        : Left(ALeft), Top(ATop), Right(ARight), Bottom(ABottom) {}
    constexpr int32_t Width() const { return Right - Left; }
    constexpr int32_t Height() const { return Bottom - Top; }
    constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    friend constexpr bool operator==(const TRect& A, const TRect& B) = default;
};

// ---------------------------------------------------------------- 3D points and vectors

struct TPoint3D {
    float X = 0, Y = 0, Z = 0;

    constexpr TPoint3D() = default;
    constexpr TPoint3D(float AX, float AY, float AZ) : X(AX), Y(AY), Z(AZ) {}
    static constexpr TPoint3D Create(float AX, float AY, float AZ) { return {AX, AY, AZ}; }
    static constexpr TPoint3D Zero() { return {0, 0, 0}; }

    friend TPoint3D operator+(const TPoint3D& A, const TPoint3D& B);
    friend TPoint3D operator-(const TPoint3D& A, const TPoint3D& B);
    friend TPoint3D operator-(const TPoint3D& A);
    friend TPoint3D operator*(const TPoint3D& A, float F);
    friend TPoint3D operator*(float F, const TPoint3D& A);
    friend TPoint3D operator/(const TPoint3D& A, float F);
    TPoint3D& operator+=(const TPoint3D& B) { return *this = *this + B; }
    TPoint3D& operator-=(const TPoint3D& B) { return *this = *this - B; }
    TPoint3D& operator*=(float F) { return *this = *this * F; }
    friend constexpr bool operator==(const TPoint3D& A, const TPoint3D& B) = default;

    // The point (x, y, z, 1) times M; the W of the product is dropped (affine use).
    friend TPoint3D operator*(const TPoint3D& P, const TMatrix3D& M);

    float DotProduct(const TPoint3D& B) const;
    TPoint3D CrossProduct(const TPoint3D& B) const;
    float Length() const;
    float LengthSq() const;
    float Distance(const TPoint3D& B) const;
    // Unit vector in the same direction; a zero vector stays zero.
    TPoint3D Normalize() const;
    // The direction (x, y, z, 0) times M: rotation and scale, no translation.
    TPoint3D TransformDirection(const TMatrix3D& M) const;

    float& operator[](int I) { return I == 0 ? X : I == 1 ? Y : Z; }
    float operator[](int I) const { return I == 0 ? X : I == 1 ? Y : Z; }
};

struct TVector3D {
    float X = 0, Y = 0, Z = 0, W = 0;

    constexpr TVector3D() = default;
    constexpr TVector3D(float AX, float AY, float AZ, float AW = 1) : X(AX), Y(AY), Z(AZ), W(AW) {}
    constexpr TVector3D(const TPoint3D& P, float AW = 1) : X(P.X), Y(P.Y), Z(P.Z), W(AW) {}
    static constexpr TVector3D Create(float AX, float AY, float AZ, float AW = 1) { return {AX, AY, AZ, AW}; }

    friend TVector3D operator+(const TVector3D& A, const TVector3D& B);
    friend TVector3D operator-(const TVector3D& A, const TVector3D& B);
    friend TVector3D operator-(const TVector3D& A);
    friend TVector3D operator*(const TVector3D& A, float F);
    friend TVector3D operator*(float F, const TVector3D& A);
    friend constexpr bool operator==(const TVector3D& A, const TVector3D& B) = default;
    // All four components times M (projective use: W is kept, not divided).
    friend TVector3D operator*(const TVector3D& V, const TMatrix3D& M);

    // The point of the vector: X, Y, Z divided by W, or taken as they are when
    // |W| < 1E-4 (directions and vectors at infinity).
    explicit operator TPoint3D() const;
    TPoint3D ToPoint3D() const { return static_cast<TPoint3D>(*this); }

    float& operator[](int I) { return I == 0 ? X : I == 1 ? Y : I == 2 ? Z : W; }
    float operator[](int I) const { return I == 0 ? X : I == 1 ? Y : I == 2 ? Z : W; }
};

// ---------------------------------------------------------------- 3 x 3 matrix (2D transforms)

struct TMatrix {
    union {
        struct {
            float m11, m12, m13;
            float m21, m22, m23;
            float m31, m32, m33;
        };
        float M[3][3];
    };

    constexpr TMatrix() : m11(0), m12(0), m13(0), m21(0), m22(0), m23(0), m31(0), m32(0), m33(0) {}
    constexpr TMatrix(float a11, float a12, float a13, float a21, float a22, float a23, float a31, float a32,
                      float a33)
        : m11(a11), m12(a12), m13(a13), m21(a21), m22(a22), m23(a23), m31(a31), m32(a32), m33(a33) {}
    static constexpr TMatrix Identity() { return {1, 0, 0, 0, 1, 0, 0, 0, 1}; }

    friend TMatrix operator*(const TMatrix& A, const TMatrix& B);
    friend bool operator==(const TMatrix& A, const TMatrix& B);
    float Determinant() const;
};

// ---------------------------------------------------------------- 4 x 4 matrix

struct TMatrix3D {
    union {
        struct {
            float m11, m12, m13, m14;
            float m21, m22, m23, m24;
            float m31, m32, m33, m34;
            float m41, m42, m43, m44;
        };
        float M[4][4];
    };

    constexpr TMatrix3D()
        : m11(0), m12(0), m13(0), m14(0), m21(0), m22(0), m23(0), m24(0),
          m31(0), m32(0), m33(0), m34(0), m41(0), m42(0), m43(0), m44(0) {}
    constexpr TMatrix3D(float a11, float a12, float a13, float a14, float a21, float a22, float a23, float a24,
                        float a31, float a32, float a33, float a34, float a41, float a42, float a43, float a44)
        : m11(a11), m12(a12), m13(a13), m14(a14), m21(a21), m22(a22), m23(a23), m24(a24),
          m31(a31), m32(a32), m33(a33), m34(a34), m41(a41), m42(a42), m43(a43), m44(a44) {}

    static constexpr TMatrix3D Identity()
    {
        return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    }
    // Scaling along the axes by (S.X, S.Y, S.Z).
    static TMatrix3D CreateScaling(const TPoint3D& S);
    // Translation by T (m41, m42, m43).
    static TMatrix3D CreateTranslation(const TPoint3D& T);
    // Right-handed rotations by an angle in radians about X, Y, Z.
    static TMatrix3D CreateRotationX(float Angle);
    static TMatrix3D CreateRotationY(float Angle);
    static TMatrix3D CreateRotationZ(float Angle);
    // Right-handed rotation by Angle (radians) about Axis (normalised here).
    static TMatrix3D CreateRotation(const TPoint3D& Axis, float Angle);
    // Yaw about Y, pitch about X, roll about Z (radians), composed as
    // RotationX(Pitch) x RotationY(Yaw) x RotationZ(Roll): the pitch applies first.
    // Then m13 = -sin(Yaw), m23 / m33 = tan(Pitch), m12 / m11 = tan(Roll).
    static TMatrix3D CreateRotationYawPitchRoll(float Yaw, float Pitch, float Roll);
    // GL-style right-handed perspective; FOV is the vertical field of view in
    // radians, Aspect is width / height. m22 = 1 / tan(FOV / 2), m11 = m22 / Aspect.
    static TMatrix3D CreatePerspectiveFovRH(float FOV, float Aspect, float ANear, float AFar);
    // GL-style right-handed orthographic projection of the box Left..Right,
    // Bottom..Top (Top > Bottom for a y-up view) and ANear..AFar.
    static TMatrix3D CreateOrthoOffCenterRH(float Left, float Top, float Right, float Bottom, float ANear,
                                            float AFar);
    // Right-handed view matrix of an eye at Source looking at Target, with
    // Ceiling the up direction: the view's X is Normalize(F x Ceiling), Y its
    // recomputed up, -Z the forward F.
    static TMatrix3D CreateLookAtRH(const TPoint3D& Source, const TPoint3D& Target, const TPoint3D& Ceiling);
    // The same with the forward direction given instead of a target.
    static TMatrix3D CreateLookAtDirRH(const TPoint3D& Source, const TPoint3D& Direction,
                                       const TPoint3D& Ceiling);

    friend TMatrix3D operator*(const TMatrix3D& A, const TMatrix3D& B);
    friend TMatrix3D operator*(const TMatrix3D& A, float F);
    friend TMatrix3D operator+(const TMatrix3D& A, const TMatrix3D& B);
    friend bool operator==(const TMatrix3D& A, const TMatrix3D& B);

    TMatrix3D Transpose() const;
    double Determinant() const;
    // The inverse; a singular matrix (determinant 0) inverts to the identity.
    TMatrix3D Inverse() const;
    // The position of the eye of a view matrix: the point the matrix takes to
    // the origin (the translation of the inverse).
    TPoint3D EyePosition() const;
    // The upper-left 3 x 3.
    TMatrix ToMatrix() const;
};

// ---------------------------------------------------------------- quaternion

// A rotation quaternion. Under row vectors the quaternion q turns the point p
// into q p q*, and its matrix is the row-vector form of that rotation.
// A * B applies A first, so that (A * B).ToMatrix3D = A.ToMatrix3D * B.ToMatrix3D.
struct TQuaternion3D {
    TPoint3D ImagPart;
    float RealPart = 0;

    constexpr TQuaternion3D() = default;
    constexpr TQuaternion3D(const TPoint3D& AImag, float AReal) : ImagPart(AImag), RealPart(AReal) {}
    static constexpr TQuaternion3D Identity() { return {TPoint3D(0, 0, 0), 1}; }
    // Rotation by Angle (radians) about Axis (normalised here; a zero axis gives the identity).
    static TQuaternion3D Create(const TPoint3D& Axis, float Angle);
    // The rotation of M's upper-left 3 x 3 (a rotation matrix in row-vector form).
    static TQuaternion3D Create(const TMatrix3D& M);
    // The rotation of TMatrix3D::CreateRotationYawPitchRoll(Yaw, Pitch, Roll).
    static TQuaternion3D Create(float Yaw, float Pitch, float Roll);

    friend TQuaternion3D operator*(const TQuaternion3D& A, const TQuaternion3D& B);
    friend constexpr bool operator==(const TQuaternion3D& A, const TQuaternion3D& B) = default;
    float Length() const;
    // Unit length; a zero quaternion becomes the identity.
    TQuaternion3D Normalize() const;
    // The rotation matrix (of the normalised quaternion; zero gives the identity).
    explicit operator TMatrix3D() const;
    TMatrix3D ToMatrix3D() const { return static_cast<TMatrix3D>(*this); }
};

// The rotation of a 3D control's RotationAngle (degrees): about the X axis
// first, then about Y, then about Z, each right-handed:
// RotationX(X) x RotationY(Y) x RotationZ(Z). That is the yaw-pitch-roll
// rotation with the yaw from Y, the pitch from X and the roll from Z.
TQuaternion3D RotationAnglesToQuaternion(const TPoint3D& AnglesInDegrees);

// ---------------------------------------------------------------- bounding box

// An axis-aligned box: Left, Top, Near are the minimum X, Y, Z and Right,
// Bottom, Far the maximum (once normalised).
struct TBoundingBox {
    float Left = 0, Top = 0, Near = 0, Right = 0, Bottom = 0, Far = 0;

    constexpr TBoundingBox() = default;
    constexpr TBoundingBox(float ALeft, float ATop, float ANear, float ARight, float ABottom, float AFar)
        : Left(ALeft), Top(ATop), Near(ANear), Right(ARight), Bottom(ABottom), Far(AFar) {}
    // The box spanned by two corners, normalised.
    TBoundingBox(const TPoint3D& A, const TPoint3D& B);
    // The smallest box holding every point; no points give the empty box at the origin.
    static TBoundingBox Create(std::span<const TPoint3D> Points);
    static TBoundingBox Create(std::initializer_list<TPoint3D> Points)
    {
        return Create(std::span<const TPoint3D>(Points.begin(), Points.size()));
    }

    // Swaps bounds so that Left <= Right, Top <= Bottom, Near <= Far.
    TBoundingBox Normalize() const;
    float Width() const { return Right - Left; }
    float Height() const { return Bottom - Top; }
    float Depth() const { return Far - Near; }
    TPoint3D CenterPoint() const;
    TPoint3D MinPoint() const { return {Left, Top, Near}; }
    TPoint3D MaxPoint() const { return {Right, Bottom, Far}; }
    // The smallest box holding both boxes.
    TBoundingBox Union(const TBoundingBox& B) const;
    // Inclusive on every face.
    bool Contains(const TPoint3D& P) const;
    // This box scaled uniformly (keeping its proportions) to fit ADesignatedArea
    // and centred in it. ARatio is the divisor of the scale: the largest ratio
    // of this box's extent to the area's on the axes where the area has one.
    // A box without extent gives ARatio 0 and the area's centre as its box.
    TBoundingBox FitInto(const TBoundingBox& ADesignatedArea, float& ARatio) const;
    friend constexpr bool operator==(const TBoundingBox& A, const TBoundingBox& B) = default;
};

// ---------------------------------------------------------------- colours

// A packed colour: alpha in bits 24..31, red 16..23, green 8..15, blue 0..7
// (B, G, R, A in memory on little-endian machines). A type of its own, not a
// plain 32-bit integer, so tagged values and their JSON form can tell a colour
// from a number; it converts to and from uint32_t freely.
struct TAlphaColor {
    uint32_t Value = 0;
    constexpr TAlphaColor() = default;
    constexpr TAlphaColor(uint32_t AValue) : Value(AValue) {}
    constexpr operator uint32_t() const { return Value; }
};
static_assert(sizeof(TAlphaColor) == 4);

namespace TAlphaColors {
inline constexpr TAlphaColor Null = 0x00000000;
inline constexpr TAlphaColor Black = 0xFF000000;
inline constexpr TAlphaColor White = 0xFFFFFFFF;
inline constexpr TAlphaColor Red = 0xFFFF0000;
inline constexpr TAlphaColor Lime = 0xFF00FF00;
inline constexpr TAlphaColor Green = 0xFF008000;
inline constexpr TAlphaColor Blue = 0xFF0000FF;
} // namespace TAlphaColors

constexpr TAlphaColor MakeAlphaColor(uint8_t R, uint8_t G, uint8_t B, uint8_t A = 255)
{
    return TAlphaColor((uint32_t(A) << 24) | (uint32_t(R) << 16) | (uint32_t(G) << 8) | uint32_t(B));
}
constexpr uint8_t AlphaOf(TAlphaColor C) { return uint8_t(C.Value >> 24); }
constexpr uint8_t RedOf(TAlphaColor C) { return uint8_t(C.Value >> 16); }
constexpr uint8_t GreenOf(TAlphaColor C) { return uint8_t(C.Value >> 8); }
constexpr uint8_t BlueOf(TAlphaColor C) { return uint8_t(C.Value); }

// A colour of four floats, nominally 0 .. 1.
struct TAlphaColorF {
    float R = 0, G = 0, B = 0, A = 0;

    constexpr TAlphaColorF() = default;
    constexpr TAlphaColorF(float AR, float AG, float AB, float AA = 1) : R(AR), G(AG), B(AB), A(AA) {}
    static constexpr TAlphaColorF Create(float AR, float AG, float AB, float AA = 1) { return {AR, AG, AB, AA}; }
    // Each channel of the packed colour divided by 255.
    static TAlphaColorF Create(TAlphaColor C);
    // Each channel clamped to 0 .. 1, scaled by 255 and rounded.
    TAlphaColor ToAlphaColor() const;

    friend TAlphaColorF operator+(const TAlphaColorF& A, const TAlphaColorF& B);
    friend TAlphaColorF operator-(const TAlphaColorF& A, const TAlphaColorF& B);
    friend TAlphaColorF operator*(const TAlphaColorF& A, float F);
    friend constexpr bool operator==(const TAlphaColorF& A, const TAlphaColorF& B) = default;
};

// ---------------------------------------------------------------- helpers

constexpr double Pi = 3.141592653589793;
inline float DegToRad(float Degrees) { return float(double(Degrees) * (Pi / 180.0)); }
inline float RadToDeg(float Radians) { return float(double(Radians) * (180.0 / Pi)); }

} // namespace korvane
