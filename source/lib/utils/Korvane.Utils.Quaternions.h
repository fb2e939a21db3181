#pragma once
// Quaternions held in a four-component vector: X, Y, Z the imaginary part, W
// the real part; the identity is (0, 0, 0, 1).

#include "Platform.Math3D.h"

namespace korvane {

inline TVector3D QuaternionFromVector3D(const TVector3D& V) { return V; }
inline TVector3D QuaternionToVector3D(const TVector3D& Q) { return Q; }
TQuaternion3D QuaternionToQuaternion3D(const TVector3D& Q);
inline TVector3D QuaternionIdentity() { return {0, 0, 0, 1}; }
float QuaternionLength(const TVector3D& Q);
// Unit length; a length of at most 1E-30 gives the identity.
TVector3D QuaternionNormalize(const TVector3D& Q);
// The quaternion of the rotation in M's upper-left 3 x 3, read in the
// column-vector sense (X from m32 - m23): under our row vectors this is the
// conjugate of TQuaternion3D::Create(M), the rotation of M's transpose.
// Callers that turn the result back into a matrix transpose that matrix.
TVector3D QuaternionFromMatrix(const TMatrix3D& M);
// Spherical interpolation from A (T = 0) to B (T = 1) along the shorter arc.
// Both operands are normalised first and the result is a unit quaternion; when
// A and B lie in opposite hemispheres B is negated (T = 1 then gives -B, the
// same rotation as B).
TVector3D QuaternionSlerp(float T, const TVector3D& A, const TVector3D& B);

} // namespace korvane
