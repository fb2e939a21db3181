#include "Korvane.Controller.Passes.Deferred.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassDeferredComposite, "Korvane.Controller.Passes.Deferred")

void TKorvaneRenderPassDeferredComposite::InitDefaults()
{
    TKorvaneRenderPassController::InitDefaults();
    InitRectPassDefaults();
}

void TKorvaneRenderPassDeferredComposite::CreateRenderer() { FOwnsRenderer = false; }

} // namespace korvane
