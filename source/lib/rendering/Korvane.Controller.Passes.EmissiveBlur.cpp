#include "Korvane.Controller.Passes.EmissiveBlur.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassEmissiveBlur, "Korvane.Controller.Passes.EmissiveBlur")

void TKorvaneRenderPassEmissiveBlur::InitDefaults()
{
    TKorvaneRenderPassController::InitDefaults();
    InitRectPassDefaults();
}

void TKorvaneRenderPassEmissiveBlur::CreateRenderer()
{
    FRendererFlags = AllRendererFlags;
    TKorvaneRenderPassController::CreateRenderer();
}

} // namespace korvane
