#pragma once
// The voxelize pass: renders the scene's list into a 3D voxel texture of
// VoxelSize cells per edge, which the global-illumination pass traces.
// TKorvaneRenderPassEmbeddedVoxelize is the one a composite renderer makes for
// itself (an internal pass).

#include "Korvane.Controller.h"

namespace korvane {

class TKorvaneRenderPassVoxelize : public TKorvaneRenderPassController {
    KORVANE_CLASS(TKorvaneRenderPassVoxelize, TKorvaneRenderPassController)

    explicit TKorvaneRenderPassVoxelize(TComponent* AOwner) : TKorvaneRenderPassController(AOwner) {}

    // Detail 1 gives 32, 3 gives 128, 4 gives 192, 5 gives 256, 6 gives 384,
    // 7 gives 512, anything else 64.
    static int GetVoxelSizeFromDetail(int ADetail);

    int VoxelSize() const { return FVoxelSize; }
    // Rounded down to a multiple of 32, at most 512; the renderer is made anew.
    void SetVoxelSize(int AValue);

    // A square renderer of VoxelSize without G-buffer or internal passes.
    void CreateRenderer() override;

protected:
    void InitDefaults() override;

    int FVoxelSize = 128;
};

class TKorvaneRenderPassEmbeddedVoxelize : public TKorvaneRenderPassVoxelize {
    KORVANE_CLASS(TKorvaneRenderPassEmbeddedVoxelize, TKorvaneRenderPassVoxelize)

    explicit TKorvaneRenderPassEmbeddedVoxelize(TComponent* AOwner) : TKorvaneRenderPassVoxelize(AOwner) {}

    bool IsInternalRenderPass() const override { return true; }
};

} // namespace korvane
