#pragma once
// The view frustum: a camera's viewing volume as eight corners and six planes,
// with containment tests for points, spheres, cubes and boxes.

#include <array>
#include <memory>

#include "Korvane.Context.Types.h"
#include "Platform.Math3D.h"
#include "Platform.MeshBuffers.h"

namespace korvane {

// Far top left, far top right, far bottom left, far bottom right, then the
// same four of the near rectangle.
using TFrustumCorners = std::array<TPoint3D, 8>;
// Top, bottom, left, right, near, far. A point P is on the inner side of a
// plane when Normal . P + D > 0.
using TKorvaneFrustumType = std::array<TPlaneF, 6>;

struct TKorvaneFrustum {
    float FFOV = 0;  // vertical field of view, degrees
    float FRatio = 0;
    float FNearD = 0, FFarD = 0;
    TPoint3D FPos, FDir, FUp, FRight;
    float FNearH = 0, FNearW = 0;
    float FFarH = 0, FFarW = 0;
    TFrustumCorners FCorners{};
    TKorvaneFrustumType FPlanes{};

    // Direction, up and right from the view matrix (ExtractCameraVectors; its
    // eye position is not used), the rest from the projection.
    static TKorvaneFrustum Create(const TMatrix3D& AProjMatrix, const TMatrix3D& AViewMatrix,
                                  const TPoint3D& ACamPos);
    static TKorvaneFrustum Create(float AFOV, float AAspectRatio, float ANearDist, float AFarDist,
                                  const TPoint3D& ACameraPos, const TPoint3D& ACameraDir, const TPoint3D& AUp,
                                  const TPoint3D& ARight);
    static TKorvaneFrustum Create(const TMatrix3D& AProjMatrix, const TPoint3D& ACameraPos,
                                  const TPoint3D& ACameraDir, const TPoint3D& AUp, const TPoint3D& ARight);

    // AFOV in degrees.
    void Calculate(float AFOV, float AAspectRatio, float ANearDist, float AFarDist, const TPoint3D& ACameraPos,
                   const TPoint3D& ACameraDir, const TPoint3D& AUp, const TPoint3D& ARight);
    // Field of view, ratio, near and far read back from a GL-style perspective
    // matrix (m33 = 1 or m22 = 0 divide by zero: pass perspective matrices).
    void Calculate(const TMatrix3D& AProjMatrix, const TPoint3D& ACameraPos, const TPoint3D& ACameraDir,
                   const TPoint3D& AUp, const TPoint3D& ARight);
    void Calculate(const TMatrix3D& AProjMatrix, const TMatrix3D& AViewMatrix);

    // Divides plane ASide by the length of its normal (a zero normal stays).
    // A side outside 0 .. 5 raises EArgumentException.
    static void NormalizePlane(TKorvaneFrustumType& AFrustum, int ASide);
    void Normalize(int ASide);

    // Strictly on the inner side of all six planes.
    bool IsPointInFrustum(const TPoint3D& APoint) const;
    // APlane := (0, 0, 0, 0), and on a false result the first rejecting plane.
    bool IsPointInFrustum(const TPoint3D& APoint, TVector3D& APlane) const;
    bool IsSphereInFrustum(const TPoint3D& ACenter, float ARadius) const;
    bool IsCubeInFrustum(const TPoint3D& ACenter, float ASize) const;
    // False when all eight corners are outside one plane; true otherwise (a
    // conservative test: it never rejects a box that can be seen).
    bool IsAABBInFrustum(const TBoundingBox& ABox) const;
    TBoundingBox ToBoundingBox() const;
    // Eight position vertices (corners 4, 5, 7, 6, 0, 1, 3, 2) and 48 indices
    // forming 24 line segments. Missing buffers are created (positions only,
    // 16-bit indices); given buffers too small raise their range error.
    void ToGeometry(std::unique_ptr<TVertexBuffer>& AVertexBuffer, std::unique_ptr<TIndexBuffer>& AIndexBuffer) const;
};

} // namespace korvane
