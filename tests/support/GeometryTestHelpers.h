#pragma once
// Helpers shared by the geometry tests.

#include "Korvane.Utils.Geometry.h"

namespace korvane::test {

// A ray from Start along Dir, without an end point.
inline TRaycastData Ray(TPoint3D Start, TPoint3D Dir)
{
    TRaycastData R;
    R._Set(Start, Dir, 0);
    return R;
}

} // namespace korvane::test
