// The view frustum: building from a projection and a view, containment tests
// and the line geometry.

#include <gtest/gtest.h>

#include <cmath>

#include "Korvane.Context.Frustum.h"
#include "Korvane.Utils.Math.h"
#include "Platform.SysUtils.h"

using namespace korvane;

namespace {

::testing::AssertionResult NearPoint(const TPoint3D& A, const TPoint3D& B, float Tol = 1e-4f)
{
    if (std::fabs(A.X - B.X) > Tol || std::fabs(A.Y - B.Y) > Tol || std::fabs(A.Z - B.Z) > Tol)
        return ::testing::AssertionFailure()
               << "(" << A.X << ", " << A.Y << ", " << A.Z << ") vs (" << B.X << ", " << B.Y << ", " << B.Z << ")";
    return ::testing::AssertionSuccess();
}

// A camera at the origin looking down -Z with the world's up (0, -1, 0):
// right is -X and up is -Y. A 90-degree field of view, ratio 1, near 1 and
// far 10 make every plane pass through exact values.
TKorvaneFrustum SimpleFrustum()
{
    return TKorvaneFrustum::Create(90, 1, 1, 10, {0, 0, 0}, {0, 0, -1}, {0, -1, 0}, {-1, 0, 0});
}

} // namespace

TEST(Frustum, RecoversItsParametersFromTheProjection)
{
    const TPoint3D eye(3, -2, 10), target(0, 0, 0);
    const TMatrix3D proj = TMatrix3D::CreatePerspectiveFovRH(DegToRad(45), 2, 0.1f, 10000);
    const TMatrix3D view = TMatrix3D::CreateLookAtRH(eye, target, {0, -1, 0});
    const TKorvaneFrustum F = TKorvaneFrustum::Create(proj, view, eye);
    EXPECT_NEAR(F.FFOV, 45, 45 * 1e-3);
    EXPECT_NEAR(F.FRatio, 2, 2e-6);
    EXPECT_NEAR(F.FNearD, 0.1f, 0.1 * 1e-3);
    // m33 = -(f + n) / (f - n) lies 2E-5 from -1, and as a float it carries
    // that gap with only about 3 digits: a 1E5 range ratio gives the far
    // plane back to about 1.3E-3.
    EXPECT_NEAR(F.FFarD, 10000, 10000 * 2e-3);
    EXPECT_EQ(F.FPos, eye);
    EXPECT_TRUE(NearPoint(F.FDir, (target - eye).Normalize(), 1e-6f));

    // With a 1E4 range ratio the far plane comes back within 1E-4.
    const TKorvaneFrustum G =
        TKorvaneFrustum::Create(TMatrix3D::CreatePerspectiveFovRH(DegToRad(60), 1.5f, 1, 10000), view, eye);
    EXPECT_NEAR(G.FFOV, 60, 60 * 1e-5);
    EXPECT_NEAR(G.FNearD, 1, 1e-5);
    EXPECT_NEAR(G.FFarD, 10000, 10000 * 1e-4);

    // Tangent of half the field of view: the near rectangle reaches FNearD * T
    // above and below its centre.
    const double T = std::tan(22.5 * Pi / 180);
    EXPECT_NEAR(T, 0.41421357, 1e-7);
    EXPECT_NEAR(F.FNearH, 2 * F.FNearD * T, 1e-6);
    EXPECT_NEAR(F.FNearW, F.FNearH * 2, 1e-6);
    const TPoint3D nc = F.FPos + F.FDir * F.FNearD;
    const TPoint3D topMid = (F.FCorners[4] + F.FCorners[5]) / 2;
    EXPECT_NEAR(topMid.Distance(nc), F.FNearD * T, 1e-6);

    // Every corner of the near and far rectangles projects to the clip cube's corners.
    for (int i = 0; i < 8; ++i) {
        const TVector3D clip = TVector3D(F.FCorners[size_t(i)], 1) * (view * proj);
        EXPECT_NEAR(std::fabs(clip.X / clip.W), 1, 2e-3) << i;
        EXPECT_NEAR(std::fabs(clip.Y / clip.W), 1, 2e-3) << i;
    }
    // The other overloads agree.
    TKorvaneFrustum H;
    H.Calculate(proj, view);
    EXPECT_TRUE(NearPoint(H.FPos, eye, 1e-3f));
    EXPECT_EQ(H.FCorners[0].X, TKorvaneFrustum::Create(proj, H.FPos, H.FDir, H.FUp, H.FRight).FCorners[0].X);
}

TEST(Frustum, PointsSpheresAndCubes)
{
    const TKorvaneFrustum F = SimpleFrustum();
    struct Case { TPoint3D P; bool In; int Plane; };
    for (const Case c : {Case{{0, 0, -5}, true, -1}, Case{{0, 0, 5}, false, 0},   // behind: the top plane, tested first, rejects it
                         Case{{0, -4.9f, -5}, true, -1}, Case{{0, -5.1f, -5}, false, 0},  // top is -Y
                         Case{{0, 5.1f, -5}, false, 1}, Case{{5.1f, 0, -5}, false, 2},    // left is +X
                         Case{{-5.1f, 0, -5}, false, 3}, Case{{0, 0, -10.5f}, false, 5},
                         Case{{0, 0, -1}, false, 4},                                     // on the near plane
                         Case{{0, 0, -10}, false, 5}}) {                                 // on the far plane
        TVector3D plane(9, 9, 9, 9);
        EXPECT_EQ(F.IsPointInFrustum(c.P, plane), c.In) << c.P.X << "," << c.P.Y << "," << c.P.Z;
        EXPECT_EQ(F.IsPointInFrustum(c.P), c.In);
        const TVector3D expected = c.Plane < 0 ? TVector3D(0, 0, 0, 0) : F.FPlanes[size_t(c.Plane)].AsVector3D();
        EXPECT_EQ(plane, expected) << c.P.X << "," << c.P.Y << "," << c.P.Z;
    }
    // The near plane is z = -1 with its normal towards -Z: a sphere at z = 1
    // lies exactly its radius behind it.
    EXPECT_FALSE(F.IsSphereInFrustum({0, 0, 1}, 2));
    EXPECT_TRUE(F.IsSphereInFrustum({0, 0, 0.999f}, 2));
    EXPECT_TRUE(F.IsSphereInFrustum({0, 0, -5}, 0.1f));
    EXPECT_FALSE(F.IsSphereInFrustum({0, 0, -20}, 5));

    EXPECT_TRUE(F.IsCubeInFrustum({0, 0, -5}, 1));
    EXPECT_TRUE(F.IsCubeInFrustum({0, 0, 0}, 1.5f));    // reaches past the near plane
    EXPECT_FALSE(F.IsCubeInFrustum({0, 0, 3}, 1.5f));
    EXPECT_FALSE(F.IsCubeInFrustum({20, 0, -5}, 1));
}

TEST(Frustum, BoxOutsideAnyPlaneIsOutside)
{
    const TKorvaneFrustum F = SimpleFrustum();
    struct Case { TBoundingBox Box; bool In; };
    for (const Case c : {
             Case{TBoundingBox(-1, -1, -6, 1, 1, -4), true},         // inside
             Case{TBoundingBox(-20, -20, -6, 20, 20, -4), true},     // straddles four side planes
             Case{TBoundingBox(-1, -1, -12, 1, 1, -8), true},        // straddles the far plane
             Case{TBoundingBox(-1, -1, 2, 1, 1, 4), false},          // behind the camera
             Case{TBoundingBox(8, -1, -6, 9, 1, -4), false},         // left of the view
             // Straddles the top plane, the first tested, yet lies wholly
             // beyond the far plane.
             Case{TBoundingBox(-1, -30, -30, 1, 30, -20), false},
             Case{TBoundingBox(-30, -30, -30, 30, 30, -20), false},
         }) {
        EXPECT_EQ(F.IsAABBInFrustum(c.Box), c.In) << c.Box.Left << " " << c.Box.Near << " " << c.Box.Far;
    }
    const TBoundingBox B = F.ToBoundingBox();
    EXPECT_NEAR(B.Left, -10, 1e-5);
    EXPECT_NEAR(B.Right, 10, 1e-5);
    EXPECT_NEAR(B.Near, -10, 1e-5);
    EXPECT_NEAR(B.Far, -1, 1e-5);
}

TEST(Frustum, ToGeometryWritesEightCornersAndTwentyFourLines)
{
    const TKorvaneFrustum F = SimpleFrustum();
    std::unique_ptr<TVertexBuffer> vb;
    std::unique_ptr<TIndexBuffer> ib;
    F.ToGeometry(vb, ib);
    ASSERT_TRUE(vb && ib);
    ASSERT_EQ(vb->Length(), 8);
    ASSERT_EQ(ib->Length(), 48);
    EXPECT_EQ(ib->IndexFormat(), TIndexFormat::UInt16);
    const int corners[8] = {4, 5, 7, 6, 0, 1, 3, 2};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(vb->Vertices(i), F.FCorners[size_t(corners[i])]) << i;
    const uint32_t lines[48] = {0, 1, 1, 2, 2, 3, 3, 0, 4, 5, 5, 6, 6, 7, 7, 4, 1, 2, 2, 6, 6, 5, 5, 1,
                                0, 3, 3, 7, 7, 4, 4, 0, 0, 1, 1, 5, 5, 4, 4, 0, 2, 3, 3, 7, 7, 6, 6, 2};
    for (int i = 0; i < 48; ++i) EXPECT_EQ(ib->Indices(i), lines[i]) << i;
    // Vertex 0 is the near top left corner: near plane, top (-Y), left (+X).
    EXPECT_TRUE(NearPoint(vb->Vertices(0), {1, -1, -1}, 1e-6f));

    // Given buffers are filled, not replaced; too small ones raise their range error.
    TVertexBuffer* keptV = vb.get();
    F.ToGeometry(vb, ib);
    EXPECT_EQ(vb.get(), keptV);
    auto smallV = std::make_unique<TVertexBuffer>(TVertexFormats{TVertexFormat::Vertex}, 4);
    EXPECT_THROW(F.ToGeometry(smallV, ib), EArgumentException);
}

TEST(Frustum, NormalizePlane)
{
    TKorvaneFrustum F = SimpleFrustum();
    F.FPlanes[2] = TPlaneF::Create(0.0, 3.0, 4.0, 10.0);
    F.Normalize(2);
    EXPECT_EQ(F.FPlanes[2], TPlaneF::Create(0.0, 0.6, 0.8, 2.0));
    F.FPlanes[3] = TPlaneF::Create(0.0, 0.0, 0.0, 5.0);
    F.Normalize(3);
    EXPECT_EQ(F.FPlanes[3].D, 5);
    EXPECT_THROW(F.Normalize(6), EArgumentException);
    EXPECT_THROW(TKorvaneFrustum::NormalizePlane(F.FPlanes, -1), EArgumentException);
}
