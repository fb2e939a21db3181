#include "Korvane.Controller.Passes.FXAA.h"

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassFXAA, "Korvane.Controller.Passes.FXAA")

void TKorvaneRenderPassFXAA::InitDefaults()
{
    TKorvaneRenderPassController::InitDefaults();
    InitRectPassDefaults();
}

void TKorvaneRenderPassFXAA::CreateRenderer()
{
    FRendererFlags = AllRendererFlags;
    TKorvaneRenderPassController::CreateRenderer();
}

void TKorvaneRenderPassFXAA::SetInputPass(TKorvaneRenderPassController* APass)
{
    if (FShader) TKorvaneRenderPassController::SetInputPass(APass);
    else FInputPass = APass;
}

TKorvaneRenderPassController* TKorvaneRenderPassFXAA::GetInputPass() const
{
    return FShader ? TKorvaneRenderPassController::GetInputPass() : FInputPass;
}

} // namespace korvane
