// Tolerances, clamps, angle wrapping, extraction and Euler conversions.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Korvane.Utils.Math.h"
#include "Korvane.Utils.Vectors.h"
#include "Platform.SysUtils.h"

using namespace korvane;

namespace {

::testing::AssertionResult NearPoint(const TPoint3D& A, const TPoint3D& B, float Tol)
{
    if (std::fabs(A.X - B.X) > Tol || std::fabs(A.Y - B.Y) > Tol || std::fabs(A.Z - B.Z) > Tol)
        return ::testing::AssertionFailure()
               << "(" << A.X << ", " << A.Y << ", " << A.Z << ") vs (" << B.X << ", " << B.Y << ", " << B.Z << ")";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult NearMatrix(const TMatrix& A, const TMatrix& B, float Tol = 2e-6f)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (std::fabs(A.M[i][j] - B.M[i][j]) > Tol)
                return ::testing::AssertionFailure()
                       << "m" << (i + 1) << (j + 1) << ": " << A.M[i][j] << " vs " << B.M[i][j];
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(MathAngles, NormalizeAngleTable)
{
    struct Case { float In, Out; };
    for (const Case c : {Case{190, -170}, Case{-190, 170}, Case{540, 180}, Case{-540, -180}, Case{359, -1},
                         Case{0, 0}, Case{180, 180}, Case{-180, -180}, Case{360, 0}, Case{720, 0},
                         Case{725.5f, 5.5f}, Case{-359, 1}, Case{3600 + 90, 90}})
        EXPECT_NEAR(NormalizeAngle(c.In), c.Out, 1e-4) << c.In;
}

TEST(MathAngles, WrapValueTable)
{
    struct Case { float Value, Low, High, Out; };
    for (const Case c : {Case{-10, 0, 360, 350}, Case{360, 0, 360, 0}, Case{720.5f, 0, 360, 0.5f},
                         Case{0, 0, 360, 0}, Case{359.5f, 0, 360, 359.5f}, Case{-370, 0, 360, 350},
                         Case{5, -1, 1, -1}, Case{-1, -1, 1, -1}, Case{1, -1, 1, -1},
                         // An empty range has one value to give.
                         Case{42, 3, 3, 3}})
        EXPECT_NEAR(WrapValue(c.Value, c.Low, c.High), c.Out, 1e-4) << c.Value << " in " << c.Low << ".." << c.High;
}

TEST(MathRounding, CeilToPowerTable)
{
    struct Case { int Value, Base, Out; };
    for (const Case c : {Case{100, 2, 128}, Case{128, 2, 128}, Case{1, 2, 1}, Case{1000, 2, 1024},
                         Case{129, 2, 256}, Case{2, 2, 2}, Case{1000, 10, 1000}, Case{1001, 10, 10000},
                         Case{10, 3, 27}, Case{1 << 30, 2, 1 << 30},
                         // Outside the documented range.
                         Case{0, 2, 1}, Case{-5, 2, 1}, Case{7, 1, 7}})
        EXPECT_EQ(CeilToPower(c.Value, c.Base), c.Out) << c.Value << " base " << c.Base;
    EXPECT_THROW(CeilToPower((1 << 30) + 1, 2), EArgumentException);
    EXPECT_THROW(CeilToPower(2000000000, 10), EArgumentException);
}

TEST(MathClamps, ClampAgainstLimitTable)
{
    struct Case { int Value, Low, High, Clamp, Limit; };
    for (const Case c : {Case{5, 10, 0, 10, 0}, Case{15, 10, 0, 0, 0}, Case{5, 0, 10, 5, 5}, Case{-1, 0, 10, 0, 0},
                         Case{11, 0, 10, 10, 10}, Case{0, 0, 10, 0, 0}, Case{10, 0, 10, 10, 10}}) {
        EXPECT_EQ(ClampInt(c.Value, c.Low, c.High), c.Clamp) << c.Value << " " << c.Low << " " << c.High;
        EXPECT_EQ(LimitInt(c.Value, c.Low, c.High), c.Limit) << c.Value << " " << c.Low << " " << c.High;
        EXPECT_EQ(ClampSingle(float(c.Value), float(c.Low), float(c.High)), float(c.Clamp));
        EXPECT_EQ(LimitSingle(float(c.Value), float(c.Low), float(c.High)), float(c.Limit));
    }
}

TEST(MathTolerances, NearZeroTests)
{
    struct Case { float Value, Epsilon; bool Out; };
    for (const Case c : {Case{0, 0, true}, Case{1e-30f, 0, false}, Case{0.5f, 0.5f, false}, Case{-0.49f, 0.5f, true},
                         Case{-0.5f, 0.5f, false}, Case{1e-8f, 1e-7f, true}})
        EXPECT_EQ(IsNearZero(c.Value, c.Epsilon), c.Out) << c.Value << " " << c.Epsilon;
    EXPECT_TRUE(IsZeroPoint3D({1e-8f, -1e-8f, 0}, 1e-7f));
    EXPECT_FALSE(IsZeroPoint3D({1e-8f, -1e-8f, 2e-7f}, 1e-7f));
    TMatrix3D M;
    M.m44 = 1E-4f;
    EXPECT_TRUE(IsZeroMatrix3D(M));
    M.m32 = -1.1E-4f;
    EXPECT_FALSE(IsZeroMatrix3D(M));
    EXPECT_FALSE(IsZeroMatrix3D(TMatrix3D::Identity()));
}

TEST(MathSize3D, FieldsAliasAndConvert)
{
    TSize3D S = TSize3D::Create(2, -3, 4);
    EXPECT_EQ(S.X, 2);
    EXPECT_EQ(S.Data[1], -3);
    S.Z = 9;
    EXPECT_EQ(S.Depth, 9);
    EXPECT_EQ(S.ToPoint3D(), TPoint3D(2, -3, 9));
    EXPECT_EQ(S.ToVector3D(), TVector3D(2, -3, 9, 0));
    const TSize3D A = TSize3D::Create(7);
    EXPECT_TRUE(A.Width == 7 && A.Height == 7 && A.Depth == 7);
}

TEST(MathExtraction, TranslationScaleAndRotationOfAComposite)
{
    const TQuaternion3D q = TQuaternion3D::Create({1, -2, 0.5f}, 1.2f);
    const TMatrix3D M = TMatrix3D::CreateScaling({2, 3, 0.5f}) * q.ToMatrix3D() * TMatrix3D::CreateTranslation({4, -5, 6});
    EXPECT_EQ(ExtractTranslation(M), TPoint3D(4, -5, 6));
    EXPECT_TRUE(NearPoint(ExtractScale(M), {2, 3, 0.5f}, 1e-5f));
    const TQuaternion3D r = ExtractRotation(M);
    const TMatrix3D a = r.ToMatrix3D(), b = q.ToMatrix3D();
    EXPECT_TRUE(NearMatrix(a.ToMatrix(), b.ToMatrix(), 1e-5f));
    // Scale rows count their fourth entry too.
    TMatrix3D P = TMatrix3D::Identity();
    P.m14 = 1;
    EXPECT_NEAR(ExtractScale(P).X, std::sqrt(2.0f), 1e-6);
    EXPECT_EQ(ExtractRotation(TMatrix3D()), TQuaternion3D::Identity());
}

TEST(MathExtraction, CameraVectorsOfALookAtView)
{
    struct Case { TPoint3D Eye, Target; };
    for (const Case c : {Case{{0, 0, -10}, {0, 0, 0}}, Case{{3, -4, 7}, {1, 2, -1}}, Case{{-20, 5, 0.5f}, {4, 4, 4}}}) {
        const TMatrix3D V = TMatrix3D::CreateLookAtRH(c.Eye, c.Target, {0, -1, 0});
        TPoint3D pos, dir, up, right;
        ExtractCameraVectors(V, pos, dir, up, right);
        EXPECT_TRUE(NearPoint(pos, c.Eye, 1e-4f));
        EXPECT_TRUE(NearPoint(dir, (c.Target - c.Eye).Normalize(), 1e-6f));
        EXPECT_TRUE(NearPoint(ExtractViewDirection(V).Normalize(), dir, 1e-6f));
        // Right and up are the view's own X and Y axes.
        EXPECT_TRUE(NearPoint(right, {V.m11, V.m21, V.m31}, 1e-6f));
        EXPECT_TRUE(NearPoint(up, {V.m12, V.m22, V.m32}, 1e-6f));
    }
    // Looking straight along the reference up falls back to the X axis.
    TPoint3D right, up;
    MakeViewBasis({0, -5, 0}, {0, -1, 0}, right, up);
    EXPECT_TRUE(NearPoint(right, {0, 0, 1}, 1e-7f));
    EXPECT_TRUE(NearPoint(up, {1, 0, 0}, 1e-7f));
    MakeViewBasis({1, 0, 0}, {1, 0, 0}, right, up);
    EXPECT_TRUE(NearPoint(right, {0, 0, 0}, 0));
    EXPECT_TRUE(NearPoint(up, {0, 0, 0}, 0));
}

TEST(MathEuler, EachOrderFeedsYawPitchRollAsTabled)
{
    const TPoint3D A(10, 20, 30);
    const float x = DegToRad(10), y = DegToRad(20), z = DegToRad(30);
    struct Case { uint8_t Order; float Yaw, Pitch, Roll; };
    for (const Case c : {Case{0, x, y, z}, Case{1, y, x, z}, Case{2, z, x, y}, Case{3, z, y, x}, Case{4, y, z, x},
                         Case{5, x, z, y}}) {
        EXPECT_TRUE(NearMatrix(EulerAnglesToMatrix(A, c.Order),
                               TMatrix3D::CreateRotationYawPitchRoll(c.Yaw, c.Pitch, c.Roll).ToMatrix()))
            << int(c.Order);
    }
    EXPECT_TRUE(NearPoint(MatrixToEulerAngles(TMatrix::Identity(), 0), {0, 0, 0}, 0));
}

TEST(MathEuler, RoundTripsInAllSixOrders)
{
    // Triples whose solved yaw lies inside (-90, 90), so that they are the
    // shorter of the two solutions, including near the gimbal lock. There the
    // pitch and roll errors grow as 1 / cos(yaw) times the float rounding of
    // the matrix entries: about 2E-4 degrees at a yaw of 89.5.
    struct Case { TPoint3D A; float Tol; };
    const std::vector<Case> cases = {
        {{0, 0, 0}, 1e-4f},        {{10, 20, 30}, 1e-4f},   {{-45, 60, -120}, 1e-4f},
        {{80, -170, 5}, 1e-4f},    {{30, 100, -100}, 1e-4f}, {{-60, -90, 90}, 1e-4f},
        {{85, 40, -30}, 1e-4f},    {{-87, 10, 70}, 1e-4f},  {{88, -20, 45}, 1e-4f},
        {{1e-3f, -1e-3f, 2e-3f}, 1e-4f}, {{89.5f, -20, 45}, 1e-3f},
    };
    // The input component that becomes the yaw in each order.
    const int yawSlot[6] = {0, 1, 2, 2, 1, 0};
    for (uint8_t order = 0; order < 6; ++order) {
        for (const Case& c : cases) {
            TPoint3D in = c.A;
            std::swap(in[0], in[yawSlot[order]]);
            SCOPED_TRACE(testing::Message() << "order " << int(order) << " angles " << in.X << " " << in.Y << " " << in.Z);
            EXPECT_TRUE(NearPoint(MatrixToEulerAngles(EulerAnglesToMatrix(in, order), order), in, c.Tol));
            EXPECT_TRUE(NearPoint(QuaternionToEulerAngles(EulerAnglesToQuaternion(in, order), order), in, c.Tol));
            EXPECT_TRUE(NearPoint(QuaternionToRotationAngle(RotationAngleToQuaternion(in, order), order), in, c.Tol));
        }
    }
}

TEST(MathEuler, AnyRotationComesBackAsTheSameMatrix)
{
    // Angles outside the principal range come back as another triple of the same rotation.
    for (uint8_t order = 0; order < 6; ++order)
        for (const TPoint3D& a : {TPoint3D(120, 30, -40), TPoint3D(-100, 200, 300), TPoint3D(179, -179, 91)}) {
            const TMatrix M = EulerAnglesToMatrix(a, order);
            EXPECT_TRUE(NearMatrix(EulerAnglesToMatrix(MatrixToEulerAngles(M, order), order), M, 1e-5f))
                << int(order) << ": " << a.X << " " << a.Y << " " << a.Z;
        }
}

TEST(MathEuler, GimbalLockGivesAnEquivalentTriple)
{
    // Yaw of exactly +-90 degrees: pitch and roll collapse into one angle,
    // which is reported as pitch with a roll of 0.
    struct Case { TPoint3D In, Out; };
    for (const Case c : {Case{{90, 0, 0}, {90, 0, 0}}, Case{{-90, 0, 0}, {-90, 0, 0}},
                         Case{{90, 30, 10}, {90, 20, 0}}, Case{{-90, 30, 10}, {-90, 40, 0}},
                         Case{{90, -100, 50}, {90, -150, 0}}}) {
        for (uint8_t order = 0; order < 6; ++order) {
            // The input components that become yaw, pitch and roll in this order.
            const int yawSlot[6] = {0, 1, 2, 2, 1, 0};
            const int pitchSlot[6] = {1, 0, 0, 1, 2, 2};
            const int rollSlot[6] = {2, 2, 1, 0, 0, 1};
            TPoint3D in, expected;
            expected[yawSlot[order]] = c.Out.X;
            expected[pitchSlot[order]] = c.Out.Y;
            expected[rollSlot[order]] = c.Out.Z;
            in[yawSlot[order]] = c.In.X;
            in[pitchSlot[order]] = c.In.Y;
            in[rollSlot[order]] = c.In.Z;
            const TMatrix M = EulerAnglesToMatrix(in, order);
            ASSERT_EQ(std::fabs(M.m13), 1.0f) << "the gimbal case needs an exact m13";
            const TPoint3D back = MatrixToEulerAngles(M, order);
            EXPECT_TRUE(NearPoint(back, expected, 1e-4f)) << int(order) << " from " << in.X << " " << in.Y << " " << in.Z;
            EXPECT_TRUE(NearMatrix(EulerAnglesToMatrix(back, order), M, 1e-6f));
        }
    }
}

TEST(MathEuler, UnknownOrderIsRefused)
{
    const std::string message = "unknown or spheric rotation is not supported";
    for (uint8_t order : {uint8_t(6), uint8_t(255)}) {
        try {
            EulerAnglesToMatrix({1, 2, 3}, order);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), message);
        }
        EXPECT_THROW(MatrixToEulerAngles(TMatrix::Identity(), order), Exception);
        EXPECT_THROW(EulerAnglesToQuaternion({1, 2, 3}, order), Exception);
        EXPECT_THROW(QuaternionToEulerAngles(TQuaternion3D::Identity(), order), Exception);
        EXPECT_THROW(RotationAngleToQuaternion({1, 2, 3}, order), Exception);
        EXPECT_THROW(QuaternionToRotationAngle(TQuaternion3D::Identity(), order), Exception);
    }
}

TEST(MathConversions, MatrixToMatrix3DAndQuaternion)
{
    const TMatrix R = TMatrix3D::CreateRotation({0, 1, 1}, 0.4f).ToMatrix();
    const TMatrix3D M = MatrixToMatrix3D(R);
    EXPECT_EQ(M.m23, R.m23);
    EXPECT_EQ(M.m41, 0);
    EXPECT_EQ(M.m44, 1);
    EXPECT_EQ(M.m14, 0);
    EXPECT_TRUE(NearMatrix(MatrixToQuaternion(R).ToMatrix3D().ToMatrix(), R, 1e-6f));
}

TEST(MathVectors, ComponentWiseFunctions)
{
    EXPECT_EQ(Point3DDot({1, 2, 3}, {4, -5, 6}), 12);
    EXPECT_EQ(Point3DCross({0, 1, 0}, {0, 0, 1}), TPoint3D(1, 0, 0));
    EXPECT_EQ(Point3DLength({2, 3, 6}), 7);
    EXPECT_EQ(Point3DLengthSq({2, 3, 6}), 49);
    EXPECT_EQ(Point3DNormalize({0, 0, 0}), TPoint3D(0, 0, 0));
    EXPECT_TRUE(NearPoint(Point3DDirection({1, 1, 1}, {1, 4, 5}), {0, 0.6f, 0.8f}, 1e-7f));
    EXPECT_EQ(Point3DAbs({-1, 2, -0.5f}), TPoint3D(1, 2, 0.5f));
    EXPECT_EQ(Point3DMin({1, 5, -2}, {3, -1, -2}), TPoint3D(1, -1, -2));
    EXPECT_EQ(Point3DMax({1, 5, -2}, {3, -1, -2}), TPoint3D(3, 5, -2));
    EXPECT_EQ(Point3DCopy(7, 8, 9), TPoint3D(7, 8, 9));
}
