#pragma once
// Small records that cross the boundary of the render context.

#include "Platform.Math3D.h"

namespace korvane {

// A plane as four floats: the normal (NX, NY, NZ) and the distance D, also
// readable as Normal plus Distance, as Values and as one four-component vector.
// It is the form of clip planes and of the frustum planes.
struct TPlaneF {
    float NX = 0, NY = 0, NZ = 0, D = 0;

    static TPlaneF Create(const TPoint3D& ANormal, float ADistance)
    {
        return {ANormal.X, ANormal.Y, ANormal.Z, ADistance};
    }
    static TPlaneF Create(double ANX, double ANY, double ANZ, double ADistance)
    {
        return {float(ANX), float(ANY), float(ANZ), float(ADistance)};
    }

    TPoint3D Normal() const { return {NX, NY, NZ}; }
    void SetNormal(const TPoint3D& N) { NX = N.X; NY = N.Y; NZ = N.Z; }
    float Distance() const { return D; }
    TVector3D AsVector3D() const { return {NX, NY, NZ, D}; }
    float Values(int AIndex) const { return AIndex == 0 ? NX : AIndex == 1 ? NY : AIndex == 2 ? NZ : D; }
    // The four floats in order, for uploading the plane.
    const float* GetPointer() const { return &NX; }
    friend constexpr bool operator==(const TPlaneF& A, const TPlaneF& B) = default;
};

static_assert(sizeof(TPlaneF) == 4 * sizeof(float), "TPlaneF holds four contiguous floats");

} // namespace korvane
