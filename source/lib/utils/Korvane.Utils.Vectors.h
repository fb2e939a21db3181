#pragma once
// Component-wise functions on 3D points.

#include "Platform.Math3D.h"

namespace korvane {

float Point3DDot(const TPoint3D& A, const TPoint3D& B);
TPoint3D Point3DCross(const TPoint3D& A, const TPoint3D& B);
float Point3DLength(const TPoint3D& A);
// X*X + Y*Y + Z*Z.
float Point3DLengthSq(const TPoint3D& A);
// A unit vector; a zero vector stays zero.
TPoint3D Point3DNormalize(const TPoint3D& A);
// Normalize(B - A).
TPoint3D Point3DDirection(const TPoint3D& A, const TPoint3D& B);
TPoint3D Point3DAbs(const TPoint3D& A);
TPoint3D Point3DMin(const TPoint3D& A, const TPoint3D& B);
TPoint3D Point3DMax(const TPoint3D& A, const TPoint3D& B);
// A point of three values, such as one row of a TMatrix.
TPoint3D Point3DCopy(float X, float Y, float Z);

} // namespace korvane
