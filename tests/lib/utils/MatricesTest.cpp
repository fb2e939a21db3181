// TMat3: construction, axis rotation, inversion, conversions and operators.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "Korvane.Utils.Matrices.h"
#include "Platform.SysUtils.h"

using namespace korvane;

namespace {

::testing::AssertionResult NearPoint(const TPoint3D& A, const TPoint3D& B, float Tol = 1e-6f)
{
    if (std::fabs(A.X - B.X) > Tol || std::fabs(A.Y - B.Y) > Tol || std::fabs(A.Z - B.Z) > Tol)
        return ::testing::AssertionFailure()
               << "(" << A.X << ", " << A.Y << ", " << A.Z << ") vs (" << B.X << ", " << B.Y << ", " << B.Z << ")";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult NearMat(const TMat3& A, const TMat3& B, float Tol = 1e-6f)
{
    for (int i = 0; i < 3; ++i) {
        auto r = NearPoint(A.GetVector(i), B.GetVector(i), Tol);
        if (!r) return r << " in vector " << i;
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(Mat3, ConstructionAccessAndLayout)
{
    const TMat3 M = TMat3::Create(1, 2, 3, 4, 5, 6, 7, 8, 9);
    EXPECT_EQ(M.Column0(), TPoint3D(1, 4, 7));
    EXPECT_EQ(M.Column1(), TPoint3D(2, 5, 8));
    EXPECT_EQ(M.Column2(), TPoint3D(3, 6, 9));
    EXPECT_EQ(M.GetVector(0), TPoint3D(1, 2, 3));
    EXPECT_EQ(M.GetVector(2), TPoint3D(7, 8, 9));
    EXPECT_EQ(TMat3::Create(0), TMat3::Create(0, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(TMat3::Create(TPoint3D(1, 2, 3), TPoint3D(4, 5, 6), TPoint3D(7, 8, 9)), M);

    // The nine values share TMatrix's memory order in both directions.
    const TMatrix T = M;
    EXPECT_EQ(std::memcmp(&T.m11, &M.ex.X, sizeof(float) * 9), 0);
    EXPECT_EQ(T.m12, 2);
    EXPECT_EQ(TMat3(T), M);
    EXPECT_EQ(TMat3::Create(T), M);
    EXPECT_EQ(M.ToMatrix(), T);

    TMat3 W = M;
    W.GetVector(1) = TPoint3D(-1, -2, -3);
    EXPECT_EQ(W.ey, TPoint3D(-1, -2, -3));
    W.SetRows({1, 0, 0}, {0, 1, 0}, {0, 0, 1});
    W._Set(9, 8, 7, 6, 5, 4, 3, 2, 1);
    EXPECT_EQ(W.ez, TPoint3D(3, 2, 1));
}

TEST(Mat3, GetVectorOutOfRangeRaisesTheAssertion)
{
    TMat3 M = TMat3::Create(0);
    for (int index : {-1, 3, 100}) {
        try {
            M.GetVector(index);
            ADD_FAILURE() << "no exception for " << index;
        } catch (const EAssertionFailed& e) {
            EXPECT_EQ(e.Message(), "Assertion fehlgeschlagen (source/lib/utils/Korvane.Utils.Matrices, line 141)");
            EXPECT_EQ(e.Line(), 141);
        }
    }
}

TEST(Mat3, AxisRotation)
{
    TMat3 R;
    R._Set(TPoint3D(0, 0, 1), float(Pi / 2));
    EXPECT_TRUE(NearMat(R, TMat3::Create(0, 1, 0, -1, 0, 0, 0, 0, 1)));
    EXPECT_TRUE(NearPoint(R * TPoint3D(1, 0, 0), {0, 1, 0}));
    // With a unit axis it is the platform's rotation about that axis.
    for (const TPoint3D axis : {TPoint3D(1, 0, 0), TPoint3D(0.6f, 0, 0.8f), TPoint3D(1, 2, -2) / 3}) {
        R._Set(axis, 0.9f);
        const TMatrix3D P = TMatrix3D::CreateRotation(axis, 0.9f);
        EXPECT_TRUE(NearMat(R, TMat3(P.ToMatrix())));
        EXPECT_EQ(R.ToMatrix3D().m44, 1);
    }
}

TEST(Mat3, InverseAndProducts)
{
    const TMat3 D = TMat3::Create(2, 0, 0, 0, 4, 0, 0, 0, 8);
    EXPECT_EQ(D.Inverse(), TMat3::Create(0.5f, 0, 0, 0, 0.25f, 0, 0, 0, 0.125f));

    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-3, 3);
    for (int n = 0; n < 50; ++n) {
        const TMat3 A = TMat3::Create(u(rng), u(rng), u(rng), u(rng), u(rng), u(rng), u(rng), u(rng), u(rng));
        const TMat3 B = TMat3::Create(u(rng), u(rng), u(rng), u(rng), u(rng), u(rng), u(rng), u(rng), u(rng));
        const TPoint3D v(u(rng), u(rng), u(rng));
        EXPECT_EQ(v * A, A * v);
        EXPECT_TRUE(NearPoint((A * B) * v, A * (B * v), 1e-4f));
        EXPECT_TRUE(NearPoint((A + B) * v, A * v + B * v, 1e-4f));
        EXPECT_TRUE(NearPoint((A - B) * v, A * v - B * v, 1e-4f));
        EXPECT_TRUE(NearPoint((A * 2.5f) * v, (A * v) * 2.5f, 1e-4f));
        if (std::fabs(TMatrix(A).Determinant()) > 0.5f) {
            EXPECT_TRUE(NearMat(A * A.Inverse(), TMat3::Create(1, 0, 0, 0, 1, 0, 0, 0, 1), 1e-4f));
        }
    }
}

TEST(Mat3, ToMatrix3DKeepsTheRestOfTheIdentity)
{
    const TMatrix3D M = TMat3::Create(1, 2, 3, 4, 5, 6, 7, 8, 9).ToMatrix3D();
    EXPECT_EQ(M.m11, 1);
    EXPECT_EQ(M.m23, 6);
    EXPECT_EQ(M.m32, 8);
    for (float v : {M.m14, M.m24, M.m34, M.m41, M.m42, M.m43}) EXPECT_EQ(v, 0);
    EXPECT_EQ(M.m44, 1);
}
