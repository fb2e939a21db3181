// Quaternions held in four-component vectors: normalisation, conversion from
// matrices and slerp.

#include <gtest/gtest.h>

#include <glm/glm.hpp>
#include <glm/gtc/quaternion.hpp>

#include <cmath>
#include <vector>

#include "Korvane.Utils.Quaternions.h"

using namespace korvane;

namespace {

::testing::AssertionResult NearQuat(const TVector3D& A, const TVector3D& B, float Tol = 1e-6f)
{
    if (std::fabs(A.X - B.X) > Tol || std::fabs(A.Y - B.Y) > Tol || std::fabs(A.Z - B.Z) > Tol ||
        std::fabs(A.W - B.W) > Tol)
        return ::testing::AssertionFailure() << "(" << A.X << ", " << A.Y << ", " << A.Z << ", " << A.W << ") vs ("
                                             << B.X << ", " << B.Y << ", " << B.Z << ", " << B.W << ")";
    return ::testing::AssertionSuccess();
}

// The same rotation: equal up to the sign of the whole quaternion.
::testing::AssertionResult SameRotation(const TVector3D& A, const TVector3D& B, float Tol = 1e-5f)
{
    const double d = double(A.X) * B.X + double(A.Y) * B.Y + double(A.Z) * B.Z + double(A.W) * B.W;
    return NearQuat(A, d < 0 ? -B : B, Tol);
}

TVector3D FromQ3D(const TQuaternion3D& Q) { return {Q.ImagPart.X, Q.ImagPart.Y, Q.ImagPart.Z, Q.RealPart}; }

TVector3D AxisAngle(TPoint3D Axis, float Degrees)
{
    return FromQ3D(TQuaternion3D::Create(Axis, DegToRad(Degrees)));
}

} // namespace

TEST(QuaternionsBasics, NormalizeLengthAndConversions)
{
    struct Case { TVector3D In, Out; };
    for (const Case c : {Case{{0, 0, 0, 0}, {0, 0, 0, 1}}, Case{{0, 0, 0, 2}, {0, 0, 0, 1}},
                         Case{{1e-31f, 0, 0, 0}, {0, 0, 0, 1}}, Case{{3, 0, 4, 0}, {0.6f, 0, 0.8f, 0}},
                         Case{{1, 1, 1, 1}, {0.5f, 0.5f, 0.5f, 0.5f}}})
        EXPECT_TRUE(NearQuat(QuaternionNormalize(c.In), c.Out)) << c.In.X << " " << c.In.W;
    EXPECT_EQ(QuaternionLength({1, 2, 2, 4}), 5);
    EXPECT_EQ(QuaternionIdentity(), TVector3D(0, 0, 0, 1));
    const TQuaternion3D q = QuaternionToQuaternion3D({1, 2, 3, 4});
    EXPECT_EQ(q.ImagPart, TPoint3D(1, 2, 3));
    EXPECT_EQ(q.RealPart, 4);
    EXPECT_EQ(QuaternionFromVector3D({1, 2, 3, 4}), TVector3D(1, 2, 3, 4));
    EXPECT_EQ(QuaternionToVector3D({1, 2, 3, 4}), TVector3D(1, 2, 3, 4));
}

TEST(QuaternionsFromMatrix, IsTheConjugateOfThePlatformQuaternionOnEveryBranch)
{
    EXPECT_EQ(QuaternionFromMatrix(TMatrix3D::Identity()), TVector3D(0, 0, 0, 1));
    // 180-degree turns have a trace of -1 and go through the diagonal branches,
    // one per largest diagonal entry.
    struct Case { TPoint3D Axis; float Degrees; };
    for (const Case c : {Case{{1, 0, 0}, 180}, Case{{0, 1, 0}, 180}, Case{{0, 0, 1}, 180}, Case{{1, 2, 3}, 170},
                         Case{{3, -1, 0.5f}, 150}, Case{{0, -2, 1}, 200}, Case{{1, 1, 1}, 30},
                         Case{{0.5f, -1, 0.25f}, 75}, Case{{0, 1, 0}, -90}}) {
        const TQuaternion3D q = TQuaternion3D::Create(c.Axis, DegToRad(c.Degrees));
        const TMatrix3D M = q.ToMatrix3D() * TMatrix3D::CreateTranslation({5, 6, 7});
        const TVector3D conj{-q.ImagPart.X, -q.ImagPart.Y, -q.ImagPart.Z, q.RealPart};
        const TVector3D r = QuaternionFromMatrix(M);
        EXPECT_TRUE(SameRotation(r, conj)) << c.Degrees;
        EXPECT_NEAR(QuaternionLength(r), 1, 1e-6);
    }
    // A matrix holding NaN has no rotation to give: the identity, not NaN.
    TMatrix3D bad = TMatrix3D::Identity();
    bad.m22 = std::nanf("");
    EXPECT_EQ(QuaternionFromMatrix(bad), TVector3D(0, 0, 0, 1));
}

TEST(QuaternionsSlerp, ReturnsUnitQuaternions)
{
    // Identity with identity stays the identity, of length 1.
    for (float t : {0.f, 0.5f, 1.f})
        EXPECT_TRUE(NearQuat(QuaternionSlerp(t, {0, 0, 0, 1}, {0, 0, 0, 1}), {0, 0, 0, 1})) << t;
    // A non-unit operand with itself gives its unit form for every T.
    const float h = std::sqrt(0.5f);
    for (float t : {0.f, 0.25f, 0.5f, 1.f})
        EXPECT_TRUE(NearQuat(QuaternionSlerp(t, {1, 0, 0, 1}, {1, 0, 0, 1}), {h, 0, 0, h})) << t;
    // Endpoints and the half-way rotation.
    const TVector3D a = AxisAngle({0, 0, 1}, 0), b = AxisAngle({0, 0, 1}, 90);
    EXPECT_TRUE(NearQuat(QuaternionSlerp(0, a, b), a));
    EXPECT_TRUE(NearQuat(QuaternionSlerp(1, a, b), b));
    EXPECT_TRUE(NearQuat(QuaternionSlerp(0.5f, a, b), AxisAngle({0, 0, 1}, 45)));
    EXPECT_TRUE(NearQuat(QuaternionSlerp(0.25f, a, b * 3), AxisAngle({0, 0, 1}, 22.5f)));
}

TEST(QuaternionsSlerp, TakesTheShorterArcOnBothBranches)
{
    // -B is the same rotation as B but in the other hemisphere: going from 10
    // to 40 degrees must pass 25, not swing the long way round.
    const TVector3D a = AxisAngle({1, 2, 0}, 10), b = AxisAngle({1, 2, 0}, 40);
    EXPECT_TRUE(SameRotation(QuaternionSlerp(0.5f, a, -b), AxisAngle({1, 2, 0}, 25)));
    // Nearly equal rotations in opposite hemispheres take the linear branch:
    // the sign must still apply there, or the blend would cancel to zero.
    const TVector3D c = AxisAngle({0, 1, 0}, 30);
    const TVector3D d = -AxisAngle({0, 1, 0}, 30.01f);
    for (float t : {0.f, 0.5f, 1.f}) {
        const TVector3D r = QuaternionSlerp(t, c, d);
        EXPECT_NEAR(QuaternionLength(r), 1, 1e-6) << t;
        EXPECT_TRUE(SameRotation(r, AxisAngle({0, 1, 0}, 30 + 0.01f * t))) << t;
    }
    EXPECT_TRUE(SameRotation(QuaternionSlerp(0.5f, c, -c), c));
}

TEST(QuaternionsSlerp, AgreesWithOracle)
{
    struct Case { TPoint3D AxisA; float DegA; TPoint3D AxisB; float DegB; float T; };
    const std::vector<Case> cases = {
        {{1, 0, 0}, 0, {0, 1, 0}, 90, 0.3f},     {{1, 2, 3}, 40, {-1, 0, 2}, 170, 0.5f},
        {{0, 0, 1}, 350, {0, 0, 1}, 10, 0.75f},  {{1, 1, 0}, 120, {0, 1, 1}, -120, 0.1f},
        {{2, -1, 0.5f}, 179, {2, -1, 0.5f}, -179, 0.5f},
    };
    for (const Case& c : cases) {
        const TVector3D a = AxisAngle(c.AxisA, c.DegA), b = AxisAngle(c.AxisB, c.DegB);
        const glm::quat ga(a.W, a.X, a.Y, a.Z), gb(b.W, b.X, b.Y, b.Z);
        const glm::quat g = glm::slerp(ga, gb, c.T);
        EXPECT_TRUE(SameRotation(QuaternionSlerp(c.T, a, b), {g.x, g.y, g.z, g.w})) << c.DegA << " " << c.DegB;
    }
}
