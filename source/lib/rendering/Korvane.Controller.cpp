#include "Korvane.Controller.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneController, "Korvane.Controller")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassController, "Korvane.Controller")

TMatrix3D KorvaneBiasMatrix()
{
    TMatrix3D m{};
    m.m11 = m.m22 = m.m33 = 0.5f;
    m.m41 = m.m42 = m.m43 = 0.5f;
    m.m44 = 1.0f;
    return m;
}

TMatrix3D TKorvaneRenderPassController::GetTextureMatrix(TContext3D*, bool AUseBias) const
{
    return AUseBias ? FTextureMatrix * KorvaneBiasMatrix() : FTextureMatrix;
}

} // namespace korvane
