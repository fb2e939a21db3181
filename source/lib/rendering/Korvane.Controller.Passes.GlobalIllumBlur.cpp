#include "Korvane.Controller.Passes.GlobalIllumBlur.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassGlobalIllumBlur, "Korvane.Controller.Passes.GlobalIllumBlur")

void TKorvaneRenderPassGlobalIllumBlur::InitDefaults()
{
    TKorvaneRenderPassController::InitDefaults();
    InitRectPassDefaults();
}

void TKorvaneRenderPassGlobalIllumBlur::CreateRenderer()
{
    FRendererFlags = AllRendererFlags;
    TKorvaneRenderPassController::CreateRenderer();
}

} // namespace korvane
