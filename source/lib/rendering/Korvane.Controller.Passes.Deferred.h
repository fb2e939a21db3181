#pragma once
// The deferred composite pass: merges the composite renderer's G-buffer into
// the renderer's composite texture. It renders with the renderer that made it
// and is an internal pass of that renderer.

#include "Korvane.Controller.h"

namespace korvane {

class TKorvaneRenderPassDeferredComposite : public TKorvaneRenderPassController {
    KORVANE_CLASS(TKorvaneRenderPassDeferredComposite, TKorvaneRenderPassController)

    explicit TKorvaneRenderPassDeferredComposite(TComponent* AOwner) : TKorvaneRenderPassController(AOwner) {}

    void SetSaturation(const TPoint3D& AValue) { FSaturation = AValue; }
    const TPoint3D& Saturation() const { return FSaturation; }
    void SetEmissiveBlur(int AValue) { FEmissiveBlur = AValue; }
    int EmissiveBlur() const { return FEmissiveBlur; }
    TTexture* AlbedoTexture = nullptr;
    TTexture* TranslucentAlbedoTexture = nullptr;
    TTexture* AlphaTexture = nullptr;
    TTexture* PositionTexture = nullptr;
    TTexture* NormalsTexture = nullptr;
    TTexture* EmissiveTexture = nullptr;
    void SetAlbedoTexture(TTexture* AValue) { AlbedoTexture = AValue; }
    void SetTranslucentAlbedoTexture(TTexture* AValue) { TranslucentAlbedoTexture = AValue; }
    void SetAlphaTexture(TTexture* AValue) { AlphaTexture = AValue; }
    void SetPositionTexture(TTexture* AValue) { PositionTexture = AValue; }
    void SetNormalsTexture(TTexture* AValue) { NormalsTexture = AValue; }
    void SetEmissiveTexture(TTexture* AValue) { EmissiveTexture = AValue; }
    // The global-illumination result the composite adds; nil for none.
    TKorvaneRenderPassController* GlobalIllumPass() const { return FGlobalIllumPass; }
    void SetGlobalIllumPass(TKorvaneRenderPassController* AValue) { FGlobalIllumPass = AValue; }

    // Makes no renderer: the composite renderer sets itself as the renderer.
    void CreateRenderer() override;
    bool IsInternalRenderPass() const override { return true; }

protected:
    void InitDefaults() override;

private:
    TPoint3D FSaturation{0, 0, 0};
    int FEmissiveBlur = 0;
    TKorvaneRenderPassController* FGlobalIllumPass = nullptr;
};

} // namespace korvane
