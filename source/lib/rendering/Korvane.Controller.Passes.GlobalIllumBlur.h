#pragma once
// The blur that softens the global-illumination result, an internal pass of
// the composite renderer.

#include "Korvane.Controller.Passes.CustomBlur.h"

namespace korvane {

class TGlobalIllumBlurMaterial : public TBlurMaterial {
    KORVANE_CLASS(TGlobalIllumBlurMaterial, TBlurMaterial)

    explicit TGlobalIllumBlurMaterial(TKorvaneRenderPassMaterialSource* ASource) : TBlurMaterial(ASource)
    {
        FBlurAmount = 1.0f;
    }
    // The illumination texture it was given.
    TTexture* ResolveInputTexture(TContext3D*) override { return FInputTexture; }
};

class TGlobalIllumBlurMaterialSource : public TBlurMaterialSource {
    KORVANE_CLASS(TGlobalIllumBlurMaterialSource, TBlurMaterialSource)
    using TBlurMaterialSource::TBlurMaterialSource;

protected:
    TMaterial* CreateMaterial() override;
};

class TKorvaneRenderPassGlobalIllumBlur : public TKorvaneRenderPassBlur {
    KORVANE_CLASS(TKorvaneRenderPassGlobalIllumBlur, TKorvaneRenderPassBlur)

    explicit TKorvaneRenderPassGlobalIllumBlur(TComponent* AOwner) : TKorvaneRenderPassBlur(AOwner) {}

    // The global-illumination pass whose output is blurred; setting it takes
    // that output as the input from the next iteration on.
    TKorvaneRenderPassController* GlobalIllumPass() const { return FGlobalIllumPass; }
    void SetGlobalIllumPass(TKorvaneRenderPassController* AValue);
    // Takes the illumination pass's output again at the next iteration.
    void UpdateTexture() { FDoUpdateTexture = true; }

    bool IsInternalRenderPass() const override { return true; }
    void BeginSetup(int ACount, TRenderPass* APass) override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    TKorvaneRenderPassMaterialSource* CreateShader() override;

private:
    void ApplyGlobalIllumTexture();

    TKorvaneRenderPassController* FGlobalIllumPass = nullptr;
    bool FDoUpdateTexture = false;
};

} // namespace korvane
