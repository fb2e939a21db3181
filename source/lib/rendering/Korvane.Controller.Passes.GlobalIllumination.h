#pragma once
// The global-illumination pass: traces the voxel texture of a voxelize pass
// from the G-buffer's positions and normals. TKorvaneRenderPassEmbeddedGlobalIllum
// is the one a composite renderer makes for itself; both are internal passes.

#include "Korvane.Controller.h"

namespace korvane {

class TKorvaneRenderPassGlobalIllum : public TKorvaneRenderPassController {
    KORVANE_CLASS(TKorvaneRenderPassGlobalIllum, TKorvaneRenderPassController)

    explicit TKorvaneRenderPassGlobalIllum(TComponent* AOwner) : TKorvaneRenderPassController(AOwner) {}

    TTexture* PositionTexture() const { return FPositionTexture; }
    void SetPositionTexture(TTexture* AValue) { FPositionTexture = AValue; }
    TTexture* NormalsTexture() const { return FNormalsTexture; }
    void SetNormalsTexture(TTexture* AValue) { FNormalsTexture = AValue; }
    // The voxelize pass whose voxels are traced.
    TKorvaneRenderPassController* VoxelGeometry() const { return FVoxelGeometry; }
    void SetVoxelGeometry(TKorvaneRenderPassController* AValue) { FVoxelGeometry = AValue; }
    float ShadowStrength() const { return FShadowStrength; }
    void SetShadowStrength(float AValue) { FShadowStrength = AValue; }
    float ReflectionStrength() const { return FReflectionStrength; }
    void SetReflectionStrength(float AValue) { FReflectionStrength = AValue; }

    void CreateRenderer() override;
    bool IsInternalRenderPass() const override { return true; }

protected:
    void InitDefaults() override;

private:
    TTexture* FPositionTexture = nullptr;
    TTexture* FNormalsTexture = nullptr;
    TKorvaneRenderPassController* FVoxelGeometry = nullptr;
    float FShadowStrength = 0.4f;
    float FReflectionStrength = 0.0f;
};

class TKorvaneRenderPassEmbeddedGlobalIllum : public TKorvaneRenderPassGlobalIllum {
    KORVANE_CLASS(TKorvaneRenderPassEmbeddedGlobalIllum, TKorvaneRenderPassGlobalIllum)

    explicit TKorvaneRenderPassEmbeddedGlobalIllum(TComponent* AOwner) : TKorvaneRenderPassGlobalIllum(AOwner) {}
};

} // namespace korvane
