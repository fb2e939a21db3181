#include "Korvane.Controller.Passes.GlobalIllumination.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassGlobalIllum, "Korvane.Controller.Passes.GlobalIllumination")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassEmbeddedGlobalIllum, "Korvane.Controller.Passes.GlobalIllumination")

void TKorvaneRenderPassGlobalIllum::InitDefaults()
{
    TKorvaneRenderPassController::InitDefaults();
    InitRectPassDefaults();
    // The illumination replaces, it does not add: blending stays off everywhere.
    Blendings = {};
}

void TKorvaneRenderPassGlobalIllum::CreateRenderer()
{
    FRendererFlags = AllRendererFlags;
    TKorvaneRenderPassController::CreateRenderer();
}

} // namespace korvane
