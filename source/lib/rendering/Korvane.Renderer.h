#pragma once
// Renderers: the offscreen target that a viewport or a render-pass controller
// draws into. A renderer owns a composite texture and a texture context made on
// it, and brackets one frame's main pass and its opaque and translucent halves
// with the context and frame-buffer states they need.
//
// - TRenderer: the opaque half draws into the composite texture, the
//   translucent half into the context's translucent frame buffer.
// - TLegacyRenderer: both halves straight into the composite texture with
//   ordinary alpha blending; no G-buffer, no composite chain.
// - TCompositeRenderer: adds a G-buffer of six textures and six internal
//   render passes that merge it into the composite texture after the scene.
// - TForwardRenderer: a composite renderer that attaches the G-buffer to the
//   context's default and translucent frame buffers.

#include <cstdint>
#include <functional>
#include <string>

#include "Korvane.Context.FrameBuffers.h"
#include "Korvane.Context.Rendering.h"
#include "Platform.Classes.h"
#include "Platform.Math3D.h"
#include "Platform.Types3D.h"

namespace korvane {

class TCamera;
class TKorvaneContext;
class TKorvaneRenderPassController;
class TKorvaneRenderPassDeferredComposite;
class TKorvaneRenderPassEmissiveBlur;
class TKorvaneRenderPassEmbeddedVoxelize;
class TKorvaneRenderPassEmbeddedGlobalIllum;
class TKorvaneRenderPassGlobalIllumBlur;
class TKorvaneRenderPassFXAA;
class TKorvaneTexture;
class TKorvaneTextureBitmap;
class TRenderer;

// What the renderers and the render-pass controllers need of the viewport
// control that hosts them. The viewport implements it; a component that
// implements it is found as "the viewport" up a controller's parent chain.
class IKorvaneViewport {
public:
    virtual ~IKorvaneViewport() = default;
    // The viewport itself (for free notifications and as the owner of passes).
    virtual TComponent* GetViewportComponent() = 0;
    // The viewport's render context; nil while there is none.
    virtual TContext3D* GetViewportContext() = 0;
    virtual float GetViewportWidth() = 0;
    virtual float GetViewportHeight() = 0;
    virtual float GetViewportScale() = 0;
    // The viewport's background colour.
    virtual TAlphaColor GetViewportColor() = 0;
    // The viewport's own renderer, and the one that currently receives drawing.
    virtual TRenderer* GetMainRenderer() = 0;
    virtual TRenderer* GetCurrentRenderer() = 0;
    virtual void SetCurrentRenderer(TRenderer* ARenderer) = 0;
    // The camera the scene is seen through; nil when there is none.
    virtual TCamera* GetViewportCurrentCamera() = 0;
    // Hands the viewport's lights to AContext.
    virtual void ApplyLightSettings(TContext3D* AContext) = 0;
    // The viewport's list of render-pass controllers.
    virtual void AddRenderPass(TKorvaneRenderPassController* AController) = 0;
    virtual void RemoveRenderPass(TKorvaneRenderPassController* AController) = 0;
    // UpdateRenderPass of every listed controller.
    virtual void UpdateRenderPasses() = 0;
};

enum class TRendererType : uint8_t { ForwardRenderer, LegacyRenderer };
enum class TRendererFlag : uint8_t { IgnoreRenderTargets, IgnoreCompositeCtrl, IgnoreEmissiveBlur, IgnoreGlobalIllum };
using TRendererFlags = TSet<TRendererFlag>;
inline const TRendererFlags AllRendererFlags{TRendererFlag::IgnoreRenderTargets, TRendererFlag::IgnoreCompositeCtrl,
                                             TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum};

// Lets the owner supply the composite texture (it then belongs to the renderer).
using TOnCreateCompositeTexture =
    std::function<void(TRenderer* ASender, const TPoint& ASize, float AScale, TKorvaneTextureBitmap*& ATexture)>;

class TRenderer : public TObject {
    KORVANE_CLASS(TRenderer, TObject)

    // A renderer of class T, constructed and then set up (its context is made
    // when the owner is a viewport or a render-pass controller).
    template <class T>
    static T* Create(const std::string& AId, TComponent* AOwner, TRendererFlags AFlags,
                     TOnCreateCompositeTexture AOnCreateCompositeTexture = nullptr)
    {
        return InitializeObject(new T(AId, AOwner, AFlags, std::move(AOnCreateCompositeTexture)),
                                [](T* ARenderer) { ARenderer->AfterConstruction(); });
    }

    TRenderer(const std::string& AId, TComponent* AOwner, TRendererFlags AFlags,
              TOnCreateCompositeTexture AOnCreateCompositeTexture);
    ~TRenderer() override;

    const std::string& Id() const { return FId; }
    TRendererFlags Flags() const { return FFlags; }
    TContext3D* SharedContext() const { return FSharedContext.get(); }
    // The shared context when it is a framework context, else nil.
    TKorvaneContext* KorvaneContext() const;
    TKorvaneTextureBitmap* CompositeTexture() const { return FCompositeTexture.get(); }
    TComponent* Owner() const { return FOwner; }
    void SetOwner(TComponent* AValue) { FOwner = AValue; }
    TRenderer* AttachedRenderer() const { return FAttachedRenderer; }
    void SetAttachedRenderer(TRenderer* AValue) { FAttachedRenderer = AValue; }
    TRenderTargets RenderTargets() const { return FRenderTargets; }
    void SetRenderTargets(TRenderTargets AValue) { FRenderTargets = AValue; }
    TOnCreateCompositeTexture OnCreateCompositeTexture;
    TMultisample Multisample() const { return FMultisample; }

    const TPoint& Size() const { return FSize; }
    virtual void SetSize(const TPoint& AValue);
    float Scale() const { return FScale; }
    virtual void SetScale(float AValue);
    const TAlphaColorF& Color() const { return FColor; }
    virtual void SetColor(const TAlphaColorF& AValue) { FColor = AValue; }

    // The shared context's frame buffers; nil unless it is a framework context.
    TFrameBufferObject* DefaultFrameBuf() const;
    TFrameBufferObject* TranslucentBuf() const;

    // Recreate(ASize, AScale).
    void Resize(const TPoint& ASize, float AScale) { Recreate(ASize, AScale); }
    // Nothing when the context already has that size and scale; otherwise
    // stores both and makes the context and the buffers anew.
    virtual void Recreate(const TPoint& ASize, float AScale);
    virtual void CreateContext();
    virtual TTexture* CreateCompositeTexture();
    virtual void CreateBuffers();
    // AOwnerDestroying: the owner is being freed (and frees its components itself).
    virtual void DestroyBuffers(bool /*AOwnerDestroying*/) {}
    virtual void AttachBuffers() {}

    // AttachBuffers, then the context's depth shared with the translucent buffer.
    virtual void Apply();
    // Resets the context's default and translucent frame buffers.
    virtual void Reset();

    virtual bool BeginMainRenderPass(const TMatrix3D& ACameraMatrix, float AAngleOfView);
    virtual void EndMainRenderPass();
    virtual bool BeginOpaqueRendering();
    virtual void EndOpaqueRendering();
    virtual bool BeginTranslucentRendering();
    virtual void EndTranslucentRendering();

protected:
    // The work of the design's constructor that needs the most-derived class.
    virtual void AfterConstruction();
    void BeforeDestruction() override;
    // The viewport the owner is, or the owning controller's viewport; nil when none.
    IKorvaneViewport* OwnerViewport() const;
    // Frees the shared context and then the composite texture it renders into.
    void FreeContext();

    std::string FId;
    TRendererFlags FFlags;
    TMultisample FMultisample = TMultisample::TwoSamples;
    TOwned<TContext3D> FSharedContext;
    TRenderTargets FRenderTargets{TRenderTarget::Color_0};
    TOwned<TKorvaneTextureBitmap> FCompositeTexture;
    TComponent* FOwner;
    TPoint FSize{64, 64};
    float FScale = 1.0f;
    TAlphaColorF FColor{0, 0, 0, 0};
    TRenderer* FAttachedRenderer = nullptr;
};

class TLegacyRenderer : public TRenderer {
    KORVANE_CLASS(TLegacyRenderer, TRenderer)

    TLegacyRenderer(const std::string& AId, TComponent* AOwner, TRendererFlags AFlags,
                    TOnCreateCompositeTexture AOnCreateCompositeTexture);

    bool BeginMainRenderPass(const TMatrix3D& ACameraMatrix, float AAngleOfView) override;
    void EndMainRenderPass() override;
    bool BeginOpaqueRendering() override;
    void EndOpaqueRendering() override;
    bool BeginTranslucentRendering() override;
    void EndTranslucentRendering() override;
};

class TCompositeRenderer : public TRenderer {
    KORVANE_CLASS(TCompositeRenderer, TRenderer)

    TCompositeRenderer(const std::string& AId, TComponent* AOwner, TRendererFlags AFlags,
                       TOnCreateCompositeTexture AOnCreateCompositeTexture);
    ~TCompositeRenderer() override;

    // The G-buffer; nil until CreateBuffers (and always with IgnoreRenderTargets).
    TKorvaneTexture* AlbedoTexture() const { return FAlbedoTexture.get(); }
    TKorvaneTexture* TranslucentAlbedoTexture() const { return FTranslucentAlbedoTexture.get(); }
    TKorvaneTexture* AlphaTexture() const { return FAlphaTexture.get(); }
    TKorvaneTexture* PositionTexture() const { return FPositionTexture.get(); }
    TKorvaneTexture* NormalsTexture() const { return FNormalsTexture.get(); }
    TKorvaneTexture* EmissiveTexture() const { return FEmissiveTexture.get(); }

    // The internal controllers (components of the renderer's owner); nil when not made.
    TKorvaneRenderPassDeferredComposite* DeferredCompositeCtrl() const { return FDeferredCompositeCtrl; }
    TKorvaneRenderPassEmissiveBlur* EmissiveBlurCtrl() const { return FEmissiveBlurCtrl; }
    TKorvaneRenderPassEmbeddedVoxelize* VoxelizeCtrl() const { return FVoxelizeCtrl; }
    TKorvaneRenderPassEmbeddedGlobalIllum* GlobalIllumCtrl() const { return FGlobalIllumCtrl; }
    TKorvaneRenderPassGlobalIllumBlur* GlobalIllumBlurCtrl() const { return FGlobalIllumBlurCtrl; }
    TKorvaneRenderPassFXAA* FXAACtrl() const { return FFXAACtrl; }

    float TranslucentDistance() const { return FTranslucentDistance; }
    // Kept within 1 .. 10000; also the context's.
    void SetTranslucentDistance(float AValue);
    const TPoint3D& Saturation() const { return FSaturation; }
    void SetSaturation(const TPoint3D& AValue);
    int EmissiveBlur() const { return FEmissiveBlur; }
    // Kept within 0 .. 15.
    void SetEmissiveBlur(int AValue);
    int GlobalIllumDetail() const { return FGlobalIllumDetail; }
    // Kept within 0 .. 7, and lowered further while the voxel texture would
    // not fit the largest 3D texture of the context.
    void SetGlobalIllumDetail(int AValue);
    float GlobalIllumSoftness() const { return FGlobalIllumSoftness; }
    // Kept within 0 .. 5.
    void SetGlobalIllumSoftness(float AValue);
    float ShadowStrength() const { return FShadowStrength; }
    void SetShadowStrength(float AValue);
    float ReflectionStrength() const { return FReflectionStrength; }
    void SetReflectionStrength(float AValue);
    int FXAA() const { return FXAASteps; }
    // Kept within 0 .. 8.
    void SetFXAA(int AValue);

    // The voxel size of a detail, lowering FGlobalIllumDetail (and the
    // answer) while eight voxel sizes exceed the largest 3D texture.
    int VoxelSizeFromDetail();

    void CreateContext() override;
    void CreateBuffers() override;
    void DestroyBuffers(bool AOwnerDestroying) override;
    bool BeginOpaqueRendering() override;

    // Merges the G-buffer into the composite texture after both halves.
    virtual void Composite(PRenderContext ARenderContext);

protected:
    virtual void CreateDeferredCompositeCtrl();
    virtual void CreateEmissiveBlurCtrl();
    virtual void CreateGlobalIllumCtrls();
    virtual void CreateFXAACtrl();
    virtual void DestroyDeferredCompositeCtrl(bool AOwnerDestroying);
    virtual void DestroyEmissiveBlurCtrl(bool AOwnerDestroying);
    virtual void DestroyGlobalIllumCtrls(bool AOwnerDestroying);
    virtual void DestroyFXAACtrl(bool AOwnerDestroying);
    virtual TTexture* RenderEmissiveBlur(PRenderContext ARenderContext);
    virtual void RenderGlobalIllumination(PRenderContext ARenderContext);
    virtual void RenderFXAA(PRenderContext ARenderContext);
    // The largest 3D texture edge of the GPU (a test may answer less).
    virtual int MaxTexture3DSize() const;

    // "<id>_<kind>_<address of this renderer>".
    std::string InternalPassId(const char* AKind) const;

    TOwned<TKorvaneTexture> FAlbedoTexture;
    TOwned<TKorvaneTexture> FTranslucentAlbedoTexture;
    TOwned<TKorvaneTexture> FAlphaTexture;
    TOwned<TKorvaneTexture> FPositionTexture;
    TOwned<TKorvaneTexture> FNormalsTexture;
    TOwned<TKorvaneTexture> FEmissiveTexture;
    TKorvaneRenderPassEmbeddedVoxelize* FVoxelizeCtrl = nullptr;
    TOwned<TRenderPass> FVoxelizePass;
    TKorvaneRenderPassEmbeddedGlobalIllum* FGlobalIllumCtrl = nullptr;
    TOwned<TRenderPass> FGlobalIllumPass;
    TKorvaneRenderPassGlobalIllumBlur* FGlobalIllumBlurCtrl = nullptr;
    TOwned<TRenderPass> FGlobalIllumBlurPass;
    TKorvaneRenderPassEmissiveBlur* FEmissiveBlurCtrl = nullptr;
    TOwned<TRenderPass> FEmissiveBlurPass;
    TKorvaneRenderPassDeferredComposite* FDeferredCompositeCtrl = nullptr;
    TOwned<TRenderPass> FDeferredCompositePass;
    TKorvaneRenderPassFXAA* FFXAACtrl = nullptr;
    TOwned<TRenderPass> FFXAAPass;
    float FTranslucentDistance = 10.0f;
    TPoint3D FSaturation{0, 0, 0};
    int FEmissiveBlur = 0;
    int FGlobalIllumDetail = 0;
    float FGlobalIllumSoftness = 1.0f;
    float FShadowStrength = 0.4f;
    float FReflectionStrength = 0.0f;
    int FXAASteps = 1;

private:
    // Disposes of one internal controller (see DestroyBuffers).
    void DisposeCtrl(TKorvaneRenderPassController*& ACtrl, bool AOwnerDestroying);
    void FreeGBuffer();
};

class TForwardRenderer : public TCompositeRenderer {
    KORVANE_CLASS(TForwardRenderer, TCompositeRenderer)

    TForwardRenderer(const std::string& AId, TComponent* AOwner, TRendererFlags AFlags,
                     TOnCreateCompositeTexture AOnCreateCompositeTexture);

    void AttachBuffers() override;
};

} // namespace korvane
