#pragma once
// The blur of the G-buffer's emissive texture (the glow of emissive
// materials), an internal pass of the composite renderer.

#include "Korvane.Controller.Passes.CustomBlur.h"

namespace korvane {

class TEmissiveBlurMaterial : public TBlurMaterial {
    KORVANE_CLASS(TEmissiveBlurMaterial, TBlurMaterial)

    explicit TEmissiveBlurMaterial(TKorvaneRenderPassMaterialSource* ASource) : TBlurMaterial(ASource)
    {
        FBlurAmount = 3.0f;
    }
    // The emissive texture it was given.
    TTexture* ResolveInputTexture(TContext3D*) override { return FInputTexture; }
};

class TEmissiveBlurMaterialSource : public TBlurMaterialSource {
    KORVANE_CLASS(TEmissiveBlurMaterialSource, TBlurMaterialSource)
    using TBlurMaterialSource::TBlurMaterialSource;

protected:
    TMaterial* CreateMaterial() override;
};

class TKorvaneRenderPassEmissiveBlur : public TKorvaneRenderPassBlur {
    KORVANE_CLASS(TKorvaneRenderPassEmissiveBlur, TKorvaneRenderPassBlur)

    explicit TKorvaneRenderPassEmissiveBlur(TComponent* AOwner) : TKorvaneRenderPassBlur(AOwner) {}

    // The texture blurred (nil without a material source).
    TTexture* EmissiveTexture() const { return FSource ? BlurMaterial()->InputTexture() : nullptr; }
    // The next even iteration starts from the new texture.
    void SetEmissiveTexture(TTexture* AValue);

    bool IsInternalRenderPass() const override { return true; }

protected:
    TKorvaneRenderPassMaterialSource* CreateShader() override;
};

} // namespace korvane
