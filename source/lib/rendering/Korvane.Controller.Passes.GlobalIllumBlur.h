#pragma once
// The blur of the global-illumination result, an internal pass of the
// composite renderer.

#include "Korvane.Controller.h"

namespace korvane {

class TKorvaneRenderPassGlobalIllumBlur : public TKorvaneRenderPassController {
    KORVANE_CLASS(TKorvaneRenderPassGlobalIllumBlur, TKorvaneRenderPassController)

    explicit TKorvaneRenderPassGlobalIllumBlur(TComponent* AOwner) : TKorvaneRenderPassController(AOwner) {}

    float BlurAmount() const { return FBlurAmount; }
    void SetBlurAmount(float AValue) { FBlurAmount = AValue; }
    // The global-illumination pass whose output is blurred.
    TKorvaneRenderPassController* GlobalIllumPass() const { return FGlobalIllumPass; }
    void SetGlobalIllumPass(TKorvaneRenderPassController* AValue) { FGlobalIllumPass = AValue; }

    void CreateRenderer() override;
    bool IsInternalRenderPass() const override { return true; }

protected:
    void InitDefaults() override;

private:
    float FBlurAmount = 0;
    TKorvaneRenderPassController* FGlobalIllumPass = nullptr;
};

} // namespace korvane
