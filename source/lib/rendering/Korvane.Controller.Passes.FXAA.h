#pragma once
// The FXAA pass that smooths the composite result, an internal pass of the
// composite renderer.

#include "Korvane.Controller.h"

namespace korvane {

class TKorvaneRenderPassFXAA : public TKorvaneRenderPassController {
    KORVANE_CLASS(TKorvaneRenderPassFXAA, TKorvaneRenderPassController)

    explicit TKorvaneRenderPassFXAA(TComponent* AOwner) : TKorvaneRenderPassController(AOwner) {}

    // The composite result it reads.
    TTexture* CompositeInputTexture() const { return FCompositeInputTexture; }
    void SetCompositeInputTexture(TTexture* AValue) { FCompositeInputTexture = AValue; }
    // Without a material source of its own yet, the input pass is kept here.
    void SetInputPass(TKorvaneRenderPassController* APass) override;
    TKorvaneRenderPassController* GetInputPass() const override;

    void CreateRenderer() override;
    bool IsInternalRenderPass() const override { return true; }

protected:
    void InitDefaults() override;

private:
    TTexture* FCompositeInputTexture = nullptr;
    TKorvaneRenderPassController* FInputPass = nullptr;
};

} // namespace korvane
