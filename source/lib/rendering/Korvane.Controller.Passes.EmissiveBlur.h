#pragma once
// The blur of the G-buffer's emissive texture, an internal pass of the
// composite renderer.

#include "Korvane.Controller.h"

namespace korvane {

class TKorvaneRenderPassEmissiveBlur : public TKorvaneRenderPassController {
    KORVANE_CLASS(TKorvaneRenderPassEmissiveBlur, TKorvaneRenderPassController)

    explicit TKorvaneRenderPassEmissiveBlur(TComponent* AOwner) : TKorvaneRenderPassController(AOwner) {}

    float BlurAmount() const { return FBlurAmount; }
    void SetBlurAmount(float AValue) { FBlurAmount = AValue; }
    TTexture* EmissiveTexture() const { return FEmissiveTexture; }
    void SetEmissiveTexture(TTexture* AValue) { FEmissiveTexture = AValue; }
    // The blurred result.
    TTexture* FinalOutputTexture() { return GetOutputTexture(); }

    // The pass's own renderer has neither G-buffer nor internal passes.
    void CreateRenderer() override;
    bool IsInternalRenderPass() const override { return true; }

protected:
    void InitDefaults() override;

private:
    float FBlurAmount = 0;
    TTexture* FEmissiveTexture = nullptr;
};

} // namespace korvane
