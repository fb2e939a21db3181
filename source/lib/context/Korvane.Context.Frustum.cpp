#include "Korvane.Context.Frustum.h"

#include <cmath>

#include "Korvane.Utils.Math.h"
#include "Korvane.Utils.Vectors.h"
#include "Platform.SysUtils.h"

namespace korvane {

namespace {

TPlaneF PlaneFromPoints(const TPoint3D& P1, const TPoint3D& P2, const TPoint3D& P3)
{
    const TPoint3D n = Point3DCross(P2 - P1, P3 - P1).Normalize();
    return TPlaneF::Create(n, -Point3DDot(P1, n));
}

double Side(const TPlaneF& P, double X, double Y, double Z) { return P.NX * X + P.NY * Y + P.NZ * Z + P.D; }
double Side(const TPlaneF& P, const TPoint3D& Q) { return Side(P, Q.X, Q.Y, Q.Z); }

} // namespace

TKorvaneFrustum TKorvaneFrustum::Create(const TMatrix3D& AProjMatrix, const TMatrix3D& AViewMatrix,
                                        const TPoint3D& ACamPos)
{
    TPoint3D pos, dir, up, right;
    ExtractCameraVectors(AViewMatrix, pos, dir, up, right);
    TKorvaneFrustum F;
    F.Calculate(AProjMatrix, ACamPos, dir, up, right);
    return F;
}

TKorvaneFrustum TKorvaneFrustum::Create(float AFOV, float AAspectRatio, float ANearDist, float AFarDist,
                                        const TPoint3D& ACameraPos, const TPoint3D& ACameraDir, const TPoint3D& AUp,
                                        const TPoint3D& ARight)
{
    TKorvaneFrustum F;
    F.Calculate(AFOV, AAspectRatio, ANearDist, AFarDist, ACameraPos, ACameraDir, AUp, ARight);
    return F;
}

TKorvaneFrustum TKorvaneFrustum::Create(const TMatrix3D& AProjMatrix, const TPoint3D& ACameraPos,
                                        const TPoint3D& ACameraDir, const TPoint3D& AUp, const TPoint3D& ARight)
{
    TKorvaneFrustum F;
    F.Calculate(AProjMatrix, ACameraPos, ACameraDir, AUp, ARight);
    return F;
}

void TKorvaneFrustum::Calculate(float AFOV, float AAspectRatio, float ANearDist, float AFarDist,
                                const TPoint3D& ACameraPos, const TPoint3D& ACameraDir, const TPoint3D& AUp,
                                const TPoint3D& ARight)
{
    FFOV = AFOV;
    FRatio = AAspectRatio;
    FNearD = ANearDist;
    FFarD = AFarDist;
    FPos = ACameraPos;
    FDir = ACameraDir;
    FUp = AUp;
    FRight = ARight;

    const double T = std::tan(double(AFOV) * 0.5 * (Pi / 180.0));
    FNearH = float(double(FNearD) * 2 * T);
    FNearW = float(double(FNearH) * FRatio);
    FFarH = float(double(FFarD) * 2 * T);
    FFarW = float(double(FFarH) * FRatio);

    const TPoint3D nc = FPos + FDir * FNearD;
    const TPoint3D fc = FPos + FDir * FFarD;
    const TPoint3D nUp = FUp * float(FNearH / 2.0), nRight = FRight * float(FNearW / 2.0);
    const TPoint3D fUp = FUp * float(FFarH / 2.0), fRight = FRight * float(FFarW / 2.0);
    FCorners[0] = fc + fUp - fRight;
    FCorners[1] = fc + fUp + fRight;
    FCorners[2] = fc - fUp - fRight;
    FCorners[3] = fc - fUp + fRight;
    FCorners[4] = nc + nUp - nRight;
    FCorners[5] = nc + nUp + nRight;
    FCorners[6] = nc - nUp - nRight;
    FCorners[7] = nc - nUp + nRight;

    static constexpr int kPlanes[6][3] = {{5, 4, 0}, {6, 7, 3}, {4, 6, 2}, {7, 5, 3}, {4, 5, 7}, {1, 0, 2}};
    for (int i = 0; i < 6; ++i)
        FPlanes[size_t(i)] = PlaneFromPoints(FCorners[size_t(kPlanes[i][0])], FCorners[size_t(kPlanes[i][1])],
                                             FCorners[size_t(kPlanes[i][2])]);
}

void TKorvaneFrustum::Calculate(const TMatrix3D& AProjMatrix, const TPoint3D& ACameraPos, const TPoint3D& ACameraDir,
                                const TPoint3D& AUp, const TPoint3D& ARight)
{
    const double m11 = AProjMatrix.m11, m22 = AProjMatrix.m22, m33 = AProjMatrix.m33, m43 = AProjMatrix.m43;
    const double fov = std::atan(1 / m22) * 360 / Pi;
    const double ratio = m22 / m11;
    const double nearD = (m43 * 2) / (m33 * 2 - 2);
    const double farD = (m33 - 1) * nearD / (m33 + 1);
    Calculate(float(fov), float(ratio), float(nearD), float(farD), ACameraPos, ACameraDir, AUp, ARight);
}

void TKorvaneFrustum::Calculate(const TMatrix3D& AProjMatrix, const TMatrix3D& AViewMatrix)
{
    TPoint3D pos, dir, up, right;
    ExtractCameraVectors(AViewMatrix, pos, dir, up, right);
    Calculate(AProjMatrix, pos, dir, up, right);
}

void TKorvaneFrustum::NormalizePlane(TKorvaneFrustumType& AFrustum, int ASide)
{
    if (ASide < 0 || ASide > 5) throw EArgumentException(Format("frustum plane %d does not exist", ASide));
    TPlaneF& P = AFrustum[size_t(ASide)];
    const double len = std::sqrt(double(P.NX) * P.NX + double(P.NY) * P.NY + double(P.NZ) * P.NZ);
    if (len == 0) return;
    P = TPlaneF::Create(P.NX / len, P.NY / len, P.NZ / len, P.D / len);
}

void TKorvaneFrustum::Normalize(int ASide) { NormalizePlane(FPlanes, ASide); }

bool TKorvaneFrustum::IsPointInFrustum(const TPoint3D& APoint) const
{
    TVector3D plane;
    return IsPointInFrustum(APoint, plane);
}

bool TKorvaneFrustum::IsPointInFrustum(const TPoint3D& APoint, TVector3D& APlane) const
{
    APlane = TVector3D(0, 0, 0, 0);
    for (const TPlaneF& P : FPlanes) {
        if (!(Side(P, APoint) > 0)) {
            APlane = P.AsVector3D();
            return false;
        }
    }
    return true;
}

bool TKorvaneFrustum::IsSphereInFrustum(const TPoint3D& ACenter, float ARadius) const
{
    for (const TPlaneF& P : FPlanes)
        if (float(Side(P, ACenter)) <= -ARadius) return false;
    return true;
}

bool TKorvaneFrustum::IsCubeInFrustum(const TPoint3D& ACenter, float ASize) const
{
    const double s = ASize;
    for (const TPlaneF& P : FPlanes) {
        bool any = false;
        for (int k = 0; k < 8 && !any; ++k) {
            const double x = ACenter.X + ((k & 1) ? s : -s);
            const double y = ACenter.Y + ((k & 2) ? s : -s);
            const double z = ACenter.Z + ((k & 4) ? s : -s);
            any = Side(P, float(x), float(y), float(z)) > 0;
        }
        if (!any) return false;
    }
    return true;
}

bool TKorvaneFrustum::IsAABBInFrustum(const TBoundingBox& ABox) const
{
    // A box is outside as soon as all its corners lie outside one plane; a
    // box that straddles a plane still has to pass the others.
    for (const TPlaneF& P : FPlanes) {
        bool in = false;
        for (int k = 0; k < 8 && !in; ++k) {
            const float x = (k & 1) ? ABox.Right : ABox.Left;
            const float y = (k & 2) ? ABox.Bottom : ABox.Top;
            const float z = (k & 4) ? ABox.Far : ABox.Near;
            in = float(Side(P, x, y, z)) > 0;
        }
        if (!in) return false;
    }
    return true;
}

TBoundingBox TKorvaneFrustum::ToBoundingBox() const
{
    return TBoundingBox::Create(std::span<const TPoint3D>(FCorners.data(), FCorners.size()));
}

void TKorvaneFrustum::ToGeometry(std::unique_ptr<TVertexBuffer>& AVertexBuffer,
                                 std::unique_ptr<TIndexBuffer>& AIndexBuffer) const
{
    if (!AVertexBuffer) AVertexBuffer = std::make_unique<TVertexBuffer>(TVertexFormats{TVertexFormat::Vertex}, 8);
    if (!AIndexBuffer) AIndexBuffer = std::make_unique<TIndexBuffer>(48, TIndexFormat::UInt16);
    static constexpr int kCorners[8] = {4, 5, 7, 6, 0, 1, 3, 2};
    for (int i = 0; i < 8; ++i) AVertexBuffer->SetVertices(i, FCorners[size_t(kCorners[i])]);
    static constexpr uint8_t kLines[48] = {0, 1, 1, 2, 2, 3, 3, 0, 4, 5, 5, 6, 6, 7, 7, 4, 1, 2, 2, 6, 6, 5, 5, 1,
                                           0, 3, 3, 7, 7, 4, 4, 0, 0, 1, 1, 5, 5, 4, 4, 0, 2, 3, 3, 7, 7, 6, 6, 2};
    for (int i = 0; i < 48; ++i) AIndexBuffer->SetIndices(i, kLines[i]);
}

} // namespace korvane
