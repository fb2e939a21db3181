#include "Korvane.Controller.Passes.Voxelize.h"

#include <algorithm>

#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassVoxelize, "Korvane.Controller.Passes.Voxelize")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassEmbeddedVoxelize, "Korvane.Controller.Passes.Voxelize")

int TKorvaneRenderPassVoxelize::GetVoxelSizeFromDetail(int ADetail)
{
    switch (ADetail) {
    case 1: return 32;
    case 3: return 128;
    case 4: return 192;
    case 5: return 256;
    case 6: return 384;
    case 7: return 512;
    default: return 64;
    }
}

void TKorvaneRenderPassVoxelize::InitDefaults()
{
    FVoxelSize = 128;
    TKorvaneRenderPassController::InitDefaults();
    Iterations = 8;
    FType = TRenderPassType::Pre;
    Method = TRenderPassMethod::RenderListToFBO;
    RenderProc = TRenderPassRenderingProc::ListRendering;
    MarkMatricesDirty();
}

void TKorvaneRenderPassVoxelize::SetVoxelSize(int AValue)
{
    const int value = std::clamp(AValue - AValue % 32, 0, 512);
    if (value == FVoxelSize && FRenderer) return;
    FVoxelSize = value;
    MarkMatricesDirty();
    CreateRenderer();
}

void TKorvaneRenderPassVoxelize::CreateRenderer()
{
    FViewportSize = TPoint(FVoxelSize, FVoxelSize);
    OverwriteViewportSize = true;
    FRendererFlags = AllRendererFlags;
    TKorvaneRenderPassController::CreateRenderer();
    if (FRenderer) FRenderer->SetRenderTargets({TRenderTarget::Color_0});
}

} // namespace korvane
