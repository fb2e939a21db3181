#include "Korvane.Utils.Vectors.h"

#include <algorithm>
#include <cmath>

namespace korvane {

float Point3DDot(const TPoint3D& A, const TPoint3D& B) { return A.DotProduct(B); }
TPoint3D Point3DCross(const TPoint3D& A, const TPoint3D& B) { return A.CrossProduct(B); }
float Point3DLength(const TPoint3D& A) { return A.Length(); }
float Point3DLengthSq(const TPoint3D& A) { return A.LengthSq(); }
TPoint3D Point3DNormalize(const TPoint3D& A) { return A.Normalize(); }
TPoint3D Point3DDirection(const TPoint3D& A, const TPoint3D& B) { return (B - A).Normalize(); }
TPoint3D Point3DAbs(const TPoint3D& A) { return {std::fabs(A.X), std::fabs(A.Y), std::fabs(A.Z)}; }
TPoint3D Point3DMin(const TPoint3D& A, const TPoint3D& B)
{
    return {std::min(A.X, B.X), std::min(A.Y, B.Y), std::min(A.Z, B.Z)};
}
TPoint3D Point3DMax(const TPoint3D& A, const TPoint3D& B)
{
    return {std::max(A.X, B.X), std::max(A.Y, B.Y), std::max(A.Z, B.Z)};
}
TPoint3D Point3DCopy(float X, float Y, float Z) { return {X, Y, Z}; }

} // namespace korvane
