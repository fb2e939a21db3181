#pragma once
// The FXAA pass that smooths the edges of the composite result with fast
// approximate anti-aliasing; an internal pass of the composite renderer, run
// last in its chain once per iteration.

#include "Korvane.Controller.h"

namespace korvane {

class TFXAAMaterial : public TKorvaneRenderPassMaterial {
    KORVANE_CLASS(TFXAAMaterial, TKorvaneRenderPassMaterial)

    explicit TFXAAMaterial(TKorvaneRenderPassMaterialSource* ASource);

    TTexture* InputTexture() const { return FInputTexture; }
    // Stores the value and always tells the material's listener.
    void SetInputTexture(TTexture* AValue);
    // The stored input; else the input pass's output; else the context's own
    // texture. The answer is stored as the input.
    virtual TTexture* ResolveInputTexture(TContext3D* AContext);

protected:
    void DoInitialize() override;
    void DoApply(TContext3D* AContext) override;

private:
    TTexture* FInputTexture = nullptr;
};

class TFXAAMaterialSource : public TKorvaneRenderPassMaterialSource {
    KORVANE_CLASS(TFXAAMaterialSource, TKorvaneRenderPassMaterialSource)

    // Listens for context resets: the input pass's output is then made anew.
    explicit TFXAAMaterialSource(TKorvaneRenderPassController* AOwnerPass);

    TFXAAMaterial* FXAAMaterial() { return static_cast<TFXAAMaterial*>(Material()); }

protected:
    TMaterial* CreateMaterial() override;
    // With an input pass, the material's input becomes that pass's output.
    void DoPassesChanged() override;
    void BeforeDestruction() override;

private:
    int FContextResetOvrId = 0;
};

class TKorvaneRenderPassFXAA : public TKorvaneRenderPassController {
    KORVANE_CLASS(TKorvaneRenderPassFXAA, TKorvaneRenderPassController)

    explicit TKorvaneRenderPassFXAA(TComponent* AOwner) : TKorvaneRenderPassController(AOwner) {}

    TFXAAMaterialSource* FXAASource() const { return FSource.get(); }
    // The anti-aliased result: the renderer's composite texture.
    TTexture* GetFinalOutputTexture();
    // The first iteration's input from now on.
    void SetCompositeInputTexture(TTexture* ATexture);

    // The pass's own renderer has no G-buffer and no internal passes.
    void CreateRenderer() override;
    bool IsInternalRenderPass() const override { return true; }
    void BeginSetup(int ACount, TRenderPass* APass) override;
    void EndSetup(int ACount, TRenderPass* APass) override;

protected:
    void InitDefaults() override;
    TKorvaneRenderPassMaterialSource* CreateShader() override;
    void BeforeDestruction() override;

private:
    TOwned<TFXAAMaterialSource> FSource;
    // The input of the first iteration.
    TTexture* FBaseTexture = nullptr;
};

} // namespace korvane
