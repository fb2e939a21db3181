#include "Korvane.Utils.Quaternions.h"

#include <algorithm>
#include <cmath>

namespace korvane {

TQuaternion3D QuaternionToQuaternion3D(const TVector3D& Q) { return {TPoint3D(Q.X, Q.Y, Q.Z), Q.W}; }

float QuaternionLength(const TVector3D& Q)
{
    const double x = Q.X, y = Q.Y, z = Q.Z, w = Q.W;
    return float(std::sqrt(x * x + y * y + z * z + w * w));
}

TVector3D QuaternionNormalize(const TVector3D& Q)
{
    const float L = QuaternionLength(Q);
    if (!(L > 1E-30f)) return QuaternionIdentity();
    const float F = 1.0f / L;
    return {Q.X * F, Q.Y * F, Q.Z * F, Q.W * F};
}

TVector3D QuaternionFromMatrix(const TMatrix3D& M)
{
    const double m11 = M.m11, m12 = M.m12, m13 = M.m13;
    const double m21 = M.m21, m22 = M.m22, m23 = M.m23;
    const double m31 = M.m31, m32 = M.m32, m33 = M.m33;
    double X, Y, Z, W;
    const float Tr = float(m11 + m22 + m33);
    if (Tr > 1E-40f) {
        const double S = 0.5 / std::sqrt(double(Tr) + 1);
        X = (m32 - m23) * S;
        Y = (m13 - m31) * S;
        Z = (m21 - m12) * S;
        W = 0.25 / S;
    } else if (m11 > m22 && m11 > m33) {
        const double H = 2 * std::sqrt(m11 + 1 - m22 - m33);
        X = H * 0.25;
        Y = (m12 + m21) / H;
        Z = (m13 + m31) / H;
        W = (m32 - m23) / H;
    } else if (m22 > m33) {
        const double H = 2 * std::sqrt(m22 + 1 - m11 - m33);
        X = (m12 + m21) / H;
        Y = H * 0.25;
        Z = (m23 + m32) / H;
        W = (m13 - m31) / H;
    } else {
        const double H = 2 * std::sqrt(m33 + 1 - m11 - m22);
        X = (m13 + m31) / H;
        Y = (m23 + m32) / H;
        Z = H * 0.25;
        W = (m21 - m12) / H;
    }
    // NaN or infinite entries have no rotation to give: the identity.
    if (!std::isfinite(X) || !std::isfinite(Y) || !std::isfinite(Z) || !std::isfinite(W))
        return QuaternionIdentity();
    return QuaternionNormalize({float(X), float(Y), float(Z), float(W)});
}

TVector3D QuaternionSlerp(float T, const TVector3D& A, const TVector3D& B)
{
    const TVector3D QA = QuaternionNormalize(A);
    TVector3D QB = QuaternionNormalize(B);
    double C = double(QA.X) * QB.X + double(QA.Y) * QB.Y + double(QA.Z) * QB.Z + double(QA.W) * QB.W;
    // q and -q are the same rotation: go the shorter way round.
    if (C < 0) {
        QB = -QB;
        C = -C;
    }
    const double Theta = std::acos(std::min(C, 1.0));
    const double S = std::sin(Theta);
    double WA, WB;
    if (S > 0.001) {
        WA = std::sin((1 - double(T)) * Theta) / S;
        WB = std::sin(double(T) * Theta) / S;
    } else {
        WA = 1 - double(T);
        WB = T;
    }
    const TVector3D R{float(QA.X * WA + QB.X * WB), float(QA.Y * WA + QB.Y * WB), float(QA.Z * WA + QB.Z * WB),
                      float(QA.W * WA + QB.W * WB)};
    return QuaternionNormalize(R);
}

} // namespace korvane
