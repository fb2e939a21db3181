#pragma once
// The deferred composite pass: merges the composite renderer's G-buffer into
// the renderer's composite texture (the opaque albedo, the weighted
// translucent colours with their alpha, the emissive light and, when global
// illumination runs, its indirect light and occlusion). It renders with the
// renderer that made it and is an internal pass of that renderer.

#include <cstddef>
#include <cstdint>

#include "Korvane.Context.Types.h"
#include "Korvane.Controller.h"

namespace korvane {

class TKorvaneRenderPassDeferredComposite;

// The uniform block "CompositeShaderData" (std140, binding 0).
struct TCompositeShaderData {
    static constexpr int MaxLights = 8;

    TPoint3D VoxelCenter;      // (0, 0, 0) when no global illumination is composited
    int32_t GlobalIllum;       // 1 while a global-illumination texture is bound
    TPoint3D Saturation;       // x opaque, y translucent, z composite
    int32_t EmissiveBlur;      // 0 .. 15; the emissive light is added above 0
    int32_t VoxelSize;
    float ShadowLimit;         // the darkest a fully occluded pixel becomes
    float Reflection;          // weight of the indirect light
    int32_t NumberOfLights;    // lights copied this frame
    TKorvaneShaderLight Lights[MaxLights];
};
static_assert(sizeof(TCompositeShaderData) == 1200);
static_assert(offsetof(TCompositeShaderData, GlobalIllum) == 12);
static_assert(offsetof(TCompositeShaderData, Saturation) == 16);
static_assert(offsetof(TCompositeShaderData, EmissiveBlur) == 28);
static_assert(offsetof(TCompositeShaderData, VoxelSize) == 32);
static_assert(offsetof(TCompositeShaderData, ShadowLimit) == 36);
static_assert(offsetof(TCompositeShaderData, Reflection) == 40);
static_assert(offsetof(TCompositeShaderData, NumberOfLights) == 44);
static_assert(offsetof(TCompositeShaderData, Lights) == 48);

class TDeferredCompositeMaterial : public TKorvaneRenderPassMaterial {
    KORVANE_CLASS(TDeferredCompositeMaterial, TKorvaneRenderPassMaterial)

    static constexpr const char* BlockName = "CompositeShaderData";

    explicit TDeferredCompositeMaterial(TKorvaneRenderPassMaterialSource* ASource);

    TTexture* AlbedoTexture() const { return FAlbedoTexture; }
    TTexture* TranslucentAlbedoTexture() const { return FTranslucentAlbedoTexture; }
    TTexture* AlphaTexture() const { return FAlphaTexture; }
    TTexture* PositionTexture() const { return FPositionTexture; }
    TTexture* NormalsTexture() const { return FNormalsTexture; }
    TTexture* EmissiveTexture() const { return FEmissiveTexture; }
    // Each stores the texture and tells the material's listener.
    virtual void SetAlbedoTexture(TTexture* AValue);
    virtual void SetTranslucentAlbedoTexture(TTexture* AValue);
    virtual void SetAlphaTexture(TTexture* AValue);
    virtual void SetPositionTexture(TTexture* AValue);
    virtual void SetNormalsTexture(TTexture* AValue);
    virtual void SetEmissiveTexture(TTexture* AValue);

    const TPoint3D& Saturation() const { return FShaderData.Saturation; }
    void SetSaturation(const TPoint3D& AValue) { FShaderData.Saturation = AValue; }
    int EmissiveBlur() const { return FShaderData.EmissiveBlur; }
    void SetEmissiveBlur(int AValue) { FShaderData.EmissiveBlur = AValue; }
    // The block as it was last filled.
    const TCompositeShaderData& ShaderData() const { return FShaderData; }

protected:
    void DoInitialize() override;
    void DoApply(TContext3D* AContext) override;

private:
    TTexture* FAlbedoTexture = nullptr;
    TTexture* FTranslucentAlbedoTexture = nullptr;
    TTexture* FAlphaTexture = nullptr;
    TTexture* FPositionTexture = nullptr;
    TTexture* FNormalsTexture = nullptr;
    TTexture* FEmissiveTexture = nullptr;
    TCompositeShaderData FShaderData{};
};

class TDeferredCompositeMaterialSource : public TKorvaneRenderPassMaterialSource {
    KORVANE_CLASS(TDeferredCompositeMaterialSource, TKorvaneRenderPassMaterialSource)

    explicit TDeferredCompositeMaterialSource(TKorvaneRenderPassController* AOwnerPass)
        : TKorvaneRenderPassMaterialSource(AOwnerPass)
    {
    }

    TDeferredCompositeMaterial* CompositeMaterial() { return static_cast<TDeferredCompositeMaterial*>(Material()); }

protected:
    TMaterial* CreateMaterial() override;
    void DoPassesChanged() override {}
};

class TKorvaneRenderPassDeferredComposite : public TKorvaneRenderPassController {
    KORVANE_CLASS(TKorvaneRenderPassDeferredComposite, TKorvaneRenderPassController)

    explicit TKorvaneRenderPassDeferredComposite(TComponent* AOwner) : TKorvaneRenderPassController(AOwner) {}

    // The material's textures, saturation and emissive blur.
    TDeferredCompositeMaterial* CompositeMaterial() const;
    TTexture* Albedo() const { return CompositeMaterial()->AlbedoTexture(); }
    void SetAlbedoTexture(TTexture* AValue) { CompositeMaterial()->SetAlbedoTexture(AValue); }
    void SetTranslucentAlbedoTexture(TTexture* AValue) { CompositeMaterial()->SetTranslucentAlbedoTexture(AValue); }
    void SetAlphaTexture(TTexture* AValue) { CompositeMaterial()->SetAlphaTexture(AValue); }
    void SetPositionTexture(TTexture* AValue) { CompositeMaterial()->SetPositionTexture(AValue); }
    void SetNormalsTexture(TTexture* AValue) { CompositeMaterial()->SetNormalsTexture(AValue); }
    void SetEmissiveTexture(TTexture* AValue) { CompositeMaterial()->SetEmissiveTexture(AValue); }
    const TPoint3D& Saturation() const { return CompositeMaterial()->Saturation(); }
    void SetSaturation(const TPoint3D& AValue) { CompositeMaterial()->SetSaturation(AValue); }
    int EmissiveBlur() const { return CompositeMaterial()->EmissiveBlur(); }
    // Kept within 0 .. 15.
    void SetEmissiveBlur(int AValue);
    // The global-illumination result the composite adds; nil for none.
    TKorvaneRenderPassController* GlobalIllumPass() const { return FGlobalIllumPass; }
    void SetGlobalIllumPass(TKorvaneRenderPassController* AValue);

    // Makes no renderer: the composite renderer sets itself as the renderer.
    void CreateRenderer() override;
    bool IsInternalRenderPass() const override { return true; }
    // Clears colour 0 and depth to opaque black and draws into colour 0 only.
    void BeginSetup(int ACount, TRenderPass* APass) override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    void InitDefaults() override;
    TKorvaneRenderPassMaterialSource* CreateShader() override;
    void BeforeDestruction() override;

private:
    TOwned<TDeferredCompositeMaterialSource> FSource;
    TKorvaneRenderPassController* FGlobalIllumPass = nullptr;
};

} // namespace korvane
