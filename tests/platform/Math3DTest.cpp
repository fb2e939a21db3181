// The platform's matrix and quaternion formulas, pinned by golden values and
// checked against GLM as an independent oracle. GLM's matrices are column-vector
// matrices stored column-major, so their memory is exactly our row-vector
// matrix stored row-major: comparisons go entry by entry through memory.

#include <gtest/gtest.h>

#define GLM_ENABLE_EXPERIMENTAL
#include <glm/glm.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/quaternion.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <glm/gtx/euler_angles.hpp>

#include <cmath>
#include <cstring>
#include <vector>

#include "Platform.Math3D.h"

using namespace korvane;

namespace {

::testing::AssertionResult SameMatrix(const TMatrix3D& M, const glm::mat4& G, float Tol = 1e-5f)
{
    const float* g = glm::value_ptr(G);
    for (int i = 0; i < 16; ++i) {
        const float m = M.M[i / 4][i % 4];
        if (std::fabs(m - g[i]) > Tol * std::max(1.0f, std::fabs(g[i])))
            return ::testing::AssertionFailure()
                   << "m" << (i / 4 + 1) << (i % 4 + 1) << " is " << m << ", oracle " << g[i];
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameMatrix(const TMatrix3D& A, const TMatrix3D& B, float Tol = 1e-5f)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (std::fabs(A.M[i][j] - B.M[i][j]) > Tol)
                return ::testing::AssertionFailure()
                       << "m" << (i + 1) << (j + 1) << ": " << A.M[i][j] << " vs " << B.M[i][j];
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult NearPoint(const TPoint3D& A, const TPoint3D& B, float Tol = 1e-5f)
{
    if (std::fabs(A.X - B.X) > Tol || std::fabs(A.Y - B.Y) > Tol || std::fabs(A.Z - B.Z) > Tol)
        return ::testing::AssertionFailure()
               << "(" << A.X << ", " << A.Y << ", " << A.Z << ") vs (" << B.X << ", " << B.Y << ", " << B.Z << ")";
    return ::testing::AssertionSuccess();
}

glm::vec3 G(const TPoint3D& P) { return {P.X, P.Y, P.Z}; }

// A set of rotations used by several tables: (axis, angle in degrees).
struct AxisAngle {
    TPoint3D Axis;
    float Degrees;
};
const std::vector<AxisAngle> kRotations = {
    {{1, 0, 0}, 0},     {{1, 0, 0}, 90},     {{0, 1, 0}, -90},   {{0, 0, 1}, 45},
    {{1, 1, 0}, 120},   {{1, -2, 3}, 179.5}, {{0, 1, 0}, 180},   {{-3, 1, 2}, 270},
    {{0.2f, 0.3f, -1}, 10}, {{1, 1, 1}, 359}, {{1, 0, 0}, 180},  {{0, 0, 1}, -179},
};

} // namespace

TEST(Math3DPerspective, FortyFiveDegreesGoldenValues)
{
    const TMatrix3D P = TMatrix3D::CreatePerspectiveFovRH(DegToRad(45), 2, 0.1f, 10000);
    // 1 / tan(22.5 degrees) = 2.41421356..; pi / 4 rounded to float puts the
    // stored value one float step below 2.4142137.
    EXPECT_NEAR(P.m22, 2.4142137f, 2.5e-7f);
    EXPECT_FLOAT_EQ(P.m11, P.m22 / 2);
    EXPECT_FLOAT_EQ(P.m33, float(-(10000 + 0.1) / (10000 - 0.1)));
    EXPECT_FLOAT_EQ(P.m43, float(-2 * 10000 * 0.1 / (10000 - 0.1)));
    EXPECT_EQ(P.m34, -1);
    EXPECT_EQ(P.m44, 0);
    // A point on the near plane maps to clip depth -1, on the far plane to +1.
    const TVector3D nearClip = TVector3D(0, 0, -0.1f, 1) * P;
    const TVector3D farClip = TVector3D(0, 0, -10000, 1) * P;
    EXPECT_NEAR(nearClip.Z / nearClip.W, -1, 1e-5);
    EXPECT_NEAR(farClip.Z / farClip.W, 1, 1e-4);
}

TEST(Math3DPerspective, AgreesWithOracle)
{
    struct Case { float FovDeg, Aspect, Near, Far; };
    for (const Case c : {Case{45, 2, 0.1f, 10000}, Case{30, 1, 1, 1000}, Case{90, 1.6f, 0.5f, 50},
                         Case{60, 0.75f, 0.01f, 100}, Case{10, 16.0f / 9, 2, 3}}) {
        SCOPED_TRACE(c.FovDeg);
        const float fov = DegToRad(c.FovDeg);
        EXPECT_TRUE(SameMatrix(TMatrix3D::CreatePerspectiveFovRH(fov, c.Aspect, c.Near, c.Far),
                               glm::perspectiveRH_NO(fov, c.Aspect, c.Near, c.Far)));
    }
}

TEST(Math3DOrtho, AgreesWithOracle)
{
    struct Case { float L, T, R, B, N, F; };
    for (const Case c : {Case{0, 480, 640, 0, 0.1f, 10000}, Case{-1, 1, 1, -1, -1, 1}, Case{-5, 2, 3, -7, 1, 20}}) {
        const TMatrix3D O = TMatrix3D::CreateOrthoOffCenterRH(c.L, c.T, c.R, c.B, c.N, c.F);
        EXPECT_TRUE(SameMatrix(O, glm::orthoRH_NO(c.L, c.R, c.B, c.T, c.N, c.F)));
        // The corners of the box land on the corners of the clip cube.
        EXPECT_TRUE(NearPoint(TPoint3D(c.L, c.B, -c.N) * O, {-1, -1, -1}));
        EXPECT_TRUE(NearPoint(TPoint3D(c.R, c.T, -c.F) * O, {1, 1, 1}));
    }
}

TEST(Math3DLookAt, AgreesWithOracleAndRecoversTheEye)
{
    struct Case { TPoint3D Eye, Target, Up; };
    const std::vector<Case> cases = {
        {{0, 0, 5}, {0, 0, 0}, {0, 1, 0}},
        {{0, 0, -10}, {0, 0, 0}, {0, -1, 0}},
        {{3, -4, 7}, {1, 2, -1}, {0, -1, 0}},
        {{-20, 5, 0.5f}, {4, 4, 4}, {0, 0, 1}},
        {{1, 1, 1}, {2, 3, 4}, {0.3f, -0.9f, 0.1f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Eye.X << "," << c.Eye.Y << "," << c.Eye.Z);
        const TMatrix3D V = TMatrix3D::CreateLookAtRH(c.Eye, c.Target, c.Up);
        EXPECT_TRUE(SameMatrix(V, glm::lookAtRH(G(c.Eye), G(c.Target), G(c.Up))));
        EXPECT_TRUE(SameMatrix(TMatrix3D::CreateLookAtDirRH(c.Eye, c.Target - c.Eye, c.Up), V));
        EXPECT_TRUE(NearPoint(V.EyePosition(), c.Eye, 1e-4f));
        // The target lies straight ahead, on the view's -Z axis.
        const TPoint3D t = c.Target * V;
        EXPECT_NEAR(t.X, 0, 1e-4);
        EXPECT_NEAR(t.Y, 0, 1e-4);
        EXPECT_NEAR(t.Z, -c.Eye.Distance(c.Target), 1e-4);
    }
}

TEST(Math3DRotation, YawPitchRollAgreesWithOracleAndItsDecomposition)
{
    struct Case { float Yaw, Pitch, Roll; };
    for (const Case c : {Case{0, 0, 0}, Case{30, 0, 0}, Case{0, 30, 0}, Case{0, 0, 30}, Case{10, 20, 30},
                         Case{-75, 140, -20}, Case{89, -45, 170}, Case{200, 300, 10}}) {
        SCOPED_TRACE(testing::Message() << c.Yaw << " " << c.Pitch << " " << c.Roll);
        const float y = DegToRad(c.Yaw), p = DegToRad(c.Pitch), r = DegToRad(c.Roll);
        const TMatrix3D M = TMatrix3D::CreateRotationYawPitchRoll(y, p, r);
        // Pitch about X first, then yaw about Y, then roll about Z.
        EXPECT_TRUE(SameMatrix(M, glm::eulerAngleZYX(r, y, p)));
        EXPECT_TRUE(SameMatrix(M, TMatrix3D::CreateRotationX(p) * TMatrix3D::CreateRotationY(y) *
                                      TMatrix3D::CreateRotationZ(r)));
        EXPECT_NEAR(M.m13, -std::sin(y), 1e-6);
        EXPECT_NEAR(M.m23, std::sin(p) * std::cos(y), 1e-6);
        EXPECT_NEAR(M.m12, std::cos(y) * std::sin(r), 1e-6);
        EXPECT_TRUE(SameMatrix(TQuaternion3D::Create(y, p, r).ToMatrix3D(), M));
    }
}

TEST(Math3DRotation, AxisRotationsAreRightHanded)
{
    const float q = DegToRad(90);
    EXPECT_TRUE(NearPoint(TPoint3D(1, 0, 0) * TMatrix3D::CreateRotationZ(q), {0, 1, 0}));
    EXPECT_TRUE(NearPoint(TPoint3D(0, 1, 0) * TMatrix3D::CreateRotationX(q), {0, 0, 1}));
    EXPECT_TRUE(NearPoint(TPoint3D(0, 0, 1) * TMatrix3D::CreateRotationY(q), {1, 0, 0}));
    for (const AxisAngle& r : kRotations) {
        const float a = DegToRad(r.Degrees);
        EXPECT_TRUE(SameMatrix(TMatrix3D::CreateRotation(r.Axis, a),
                               glm::rotate(glm::mat4(1), a, glm::normalize(G(r.Axis)))))
            << r.Degrees;
    }
}

TEST(Math3DMatrix, InverseAgreesWithOracleAndSingularGivesIdentity)
{
    const std::vector<TMatrix3D> cases = {
        TMatrix3D::CreateLookAtRH({3, -4, 7}, {1, 2, -1}, {0, -1, 0}),
        TMatrix3D::CreateScaling({2, 0.5f, -4}) * TMatrix3D::CreateRotation({1, 2, 3}, 0.7f) *
            TMatrix3D::CreateTranslation({5, -6, 7}),
        TMatrix3D::CreatePerspectiveFovRH(1, 1.5f, 0.5f, 100),
        TMatrix3D(2, 1, 0, 0, 1, 3, 1, 0, 0, 1, 4, 1, 1, 0, 0, 2),
    };
    for (const TMatrix3D& M : cases) {
        glm::mat4 g;
        std::memcpy(glm::value_ptr(g), &M.m11, sizeof(float) * 16);
        EXPECT_TRUE(SameMatrix(M.Inverse(), glm::inverse(g), 1e-4f));
        EXPECT_TRUE(SameMatrix(M * M.Inverse(), TMatrix3D::Identity(), 1e-5f));
    }
    EXPECT_EQ(TMatrix3D().Inverse(), TMatrix3D::Identity());
    EXPECT_EQ(TMatrix3D::CreateScaling({1, 0, 1}).Inverse(), TMatrix3D::Identity());
    const TMatrix3D T(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    EXPECT_EQ(T.Transpose().m12, 5);
    EXPECT_EQ(T.Transpose().m41, 4);
}

TEST(Math3DQuaternion, MatrixConversionsRoundTripAndAgreeWithOracle)
{
    for (const AxisAngle& r : kRotations) {
        SCOPED_TRACE(r.Degrees);
        const float a = DegToRad(r.Degrees);
        const TQuaternion3D q = TQuaternion3D::Create(r.Axis, a);
        const TMatrix3D M = q.ToMatrix3D();
        EXPECT_TRUE(SameMatrix(M, TMatrix3D::CreateRotation(r.Axis, a)));
        const TQuaternion3D back = TQuaternion3D::Create(M);
        // q and -q are the same rotation.
        const float sign = (back.RealPart * q.RealPart + back.ImagPart.DotProduct(q.ImagPart)) < 0 ? -1.f : 1.f;
        EXPECT_TRUE(NearPoint(back.ImagPart * sign, q.ImagPart, 1e-5f));
        EXPECT_NEAR(back.RealPart * sign, q.RealPart, 1e-5);
        EXPECT_TRUE(SameMatrix(back.ToMatrix3D(), M));

        glm::mat4 g;
        std::memcpy(glm::value_ptr(g), &M.m11, sizeof(float) * 16);
        const glm::quat gq = glm::quat_cast(g);
        const float gs = (gq.w * back.RealPart + gq.x * back.ImagPart.X + gq.y * back.ImagPart.Y +
                          gq.z * back.ImagPart.Z) < 0 ? -1.f : 1.f;
        EXPECT_NEAR(back.ImagPart.X, gs * gq.x, 1e-5);
        EXPECT_NEAR(back.ImagPart.Y, gs * gq.y, 1e-5);
        EXPECT_NEAR(back.ImagPart.Z, gs * gq.z, 1e-5);
        EXPECT_NEAR(back.RealPart, gs * gq.w, 1e-5);
    }
}

TEST(Math3DQuaternion, ProductAppliesTheLeftOperandFirst)
{
    const TQuaternion3D A = TQuaternion3D::Create({1, 2, 0}, 0.8f);
    const TQuaternion3D B = TQuaternion3D::Create({0, -1, 3}, -1.9f);
    EXPECT_TRUE(SameMatrix((A * B).ToMatrix3D(), A.ToMatrix3D() * B.ToMatrix3D()));
    // A quarter turn about X then about Z takes Y to Z and leaves it there.
    const TQuaternion3D qx = TQuaternion3D::Create({1, 0, 0}, DegToRad(90));
    const TQuaternion3D qz = TQuaternion3D::Create({0, 0, 1}, DegToRad(90));
    EXPECT_TRUE(NearPoint(TPoint3D(0, 1, 0) * (qx * qz).ToMatrix3D(), {0, 0, 1}));
    EXPECT_TRUE(NearPoint(TPoint3D(0, 1, 0) * (qz * qx).ToMatrix3D(), {-1, 0, 0}));
}

TEST(Math3DQuaternion, DegenerateInputs)
{
    EXPECT_EQ(TQuaternion3D({0, 0, 0}, 0).Normalize(), TQuaternion3D::Identity());
    EXPECT_EQ(TQuaternion3D({0, 0, 0}, 0).ToMatrix3D(), TMatrix3D::Identity());
    EXPECT_EQ(TQuaternion3D::Create(TPoint3D(0, 0, 0), 1.0f), TQuaternion3D::Identity());
    EXPECT_EQ(TQuaternion3D::Create(TMatrix3D()), TQuaternion3D::Identity());
    // A non-unit quaternion converts as its normalised rotation.
    const TQuaternion3D q = TQuaternion3D::Create({0, 0, 1}, 0.5f);
    const TQuaternion3D q3({q.ImagPart * 3}, q.RealPart * 3);
    EXPECT_TRUE(SameMatrix(q3.ToMatrix3D(), q.ToMatrix3D()));
}

TEST(Math3DPoint, TransformsNormalisationAndVectorConversion)
{
    const TMatrix3D M = TMatrix3D::CreateRotationZ(DegToRad(90)) * TMatrix3D::CreateTranslation({10, 20, 30});
    EXPECT_TRUE(NearPoint(TPoint3D(1, 0, 0) * M, {10, 21, 30}));
    EXPECT_TRUE(NearPoint(TPoint3D(1, 0, 0).TransformDirection(M), {0, 1, 0}));
    EXPECT_EQ(TPoint3D(0, 0, 0).Normalize(), TPoint3D(0, 0, 0));
    EXPECT_TRUE(NearPoint(TPoint3D(3, 0, 4).Normalize(), {0.6f, 0, 0.8f}, 1e-7f));
    EXPECT_EQ(TPoint3D(1, 0, 0).CrossProduct({0, 1, 0}), TPoint3D(0, 0, 1));

    struct Case { TVector3D V; TPoint3D P; };
    for (const Case c : {Case{{2, 4, 6, 2}, {1, 2, 3}}, Case{{2, 4, 6, 0}, {2, 4, 6}},
                         Case{{2, 4, 6, 0.00009f}, {2, 4, 6}}, Case{{2, 4, 6, -0.5f}, {-4, -8, -12}},
                         Case{{1, 1, 1, 0.0001f}, {10000, 10000, 10000}}}) {
        EXPECT_TRUE(NearPoint(static_cast<TPoint3D>(c.V), c.P, 1e-2f)) << c.V.W;
    }
}

TEST(Math3DBoundingBox, FromPointsNormaliseAndUnion)
{
    const TBoundingBox B = TBoundingBox::Create({{1, -2, 3}, {-4, 5, 0}, {2, 2, -6}});
    EXPECT_EQ(B, TBoundingBox(-4, -2, -6, 2, 5, 3));
    EXPECT_EQ(TBoundingBox(2, 5, 3, -4, -2, -6).Normalize(), B);
    EXPECT_EQ(TBoundingBox::Create(std::span<const TPoint3D>()), TBoundingBox());
    EXPECT_EQ(B.CenterPoint(), TPoint3D(-1, 1.5f, -1.5f));
    EXPECT_EQ(B.Union(TBoundingBox(0, 0, 0, 10, 1, 1)), TBoundingBox(-4, -2, -6, 10, 5, 3));
    EXPECT_TRUE(B.Contains({2, 5, 3}));
    EXPECT_FALSE(B.Contains({2.01f, 0, 0}));
}

TEST(Math3DColor, PackedAndFloatColoursConvert)
{
    EXPECT_EQ(MakeAlphaColor(0x12, 0x34, 0x56, 0x78), 0x78123456u);
    const TAlphaColorF c = TAlphaColorF::Create(TAlphaColors::Red);
    EXPECT_EQ(c, TAlphaColorF(1, 0, 0, 1));
    EXPECT_EQ(TAlphaColorF(0.5f, 2, -1, 1).ToAlphaColor(), 0xFF80FF00u);
    EXPECT_EQ(TAlphaColorF(std::nanf(""), 0, 0, 1).ToAlphaColor(), 0xFF000000u);
    for (TAlphaColor x : {0x00000000u, 0xFFFFFFFFu, 0x80402010u, 0x7F00FF01u})
        EXPECT_EQ(TAlphaColorF::Create(x).ToAlphaColor(), x);
}

// Each element of a product is its four products summed in double precision
// in the order k = 0..3, then rounded once to float: the draw path's matrices
// (and every picture compared against them) depend on it to the bit. Values
// of mixed magnitude make a different order or a float sum round differently.
TEST(Math3DMatrix, ProductSumsInDoubleInOrderAndRoundsOnce)
{
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        const float mantissa = float(seed >> 8) / float(1u << 24) * 2 - 1;
        const int magnitude = int((seed >> 4) % 9) - 4;
        return std::ldexp(mantissa, magnitude * 6);
    };
    for (int round = 0; round < 200; ++round) {
        korvane::TMatrix3D a, b;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                a.M[i][j] = next();
                b.M[i][j] = next();
            }
        const korvane::TMatrix3D r = a * b;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                double s = 0;
                for (int k = 0; k < 4; ++k) s += double(a.M[i][k]) * double(b.M[k][j]);
                EXPECT_EQ(r.M[i][j], float(s)) << "round " << round << ", element " << i << j;
            }
    }
}
