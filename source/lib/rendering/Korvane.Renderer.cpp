#include "Korvane.Renderer.h"

#include <cmath>
#include <algorithm>
#include <cstdint>

#include "Korvane.Context.Texturing.h"
#include "Korvane.Context.h"
#include "Korvane.Controller.Passes.Deferred.h"
#include "Korvane.Controller.Passes.EmissiveBlur.h"
#include "Korvane.Controller.Passes.FXAA.h"
#include "Korvane.Controller.Passes.GlobalIllumBlur.h"
#include "Korvane.Controller.Passes.GlobalIllumination.h"
#include "Korvane.Controller.Passes.Voxelize.h"
#include "Korvane.Controller.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Controls3D.h"
#include "Korvane.Utils.Math.h"
#include "Platform.SysUtils.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TRenderer, "Korvane.Renderer")
KORVANE_IMPLEMENT_CLASS(TLegacyRenderer, "Korvane.Renderer")
KORVANE_IMPLEMENT_CLASS(TCompositeRenderer, "Korvane.Renderer")
KORVANE_IMPLEMENT_CLASS(TForwardRenderer, "Korvane.Renderer")

namespace {

const TAlphaColorF TransparentBlack{0, 0, 0, 0};
const TRenderTargets GBufferTargets{TRenderTarget::Color_0, TRenderTarget::Color_1, TRenderTarget::Color_2,
                                    TRenderTarget::Color_3, TRenderTarget::Color_4};

// Runs AWork; a failure is raised again with APrefix in front of its message.
template <typename F>
auto WithPrefix(const char* APrefix, F&& AWork)
{
    try {
        return AWork();
    } catch (const Exception& e) {
        throw Exception(std::string(APrefix) + e.Message());
    } catch (const std::exception& e) {
        throw Exception(std::string(APrefix) + e.what());
    }
}

TKorvaneTexture* NewGBufferTexture(const TPoint& ASize, float ATextureScale, TPixelFormatEx AComponents,
                                   TPixelFormatEx AFormat, TKorvaneTextureDataType ADataType)
{
    TKorvaneTexture* texture = TKorvaneTexture::Create();
    texture->Components = AComponents;
    texture->SetFormat(AFormat);
    texture->DataType = ADataType;
    texture->SetStyle({TTextureStyle::RenderTarget});
    texture->SetSize(ASize.X, ASize.Y);
    texture->TextureAccess().SetTextureScale(ATextureScale);
    return texture;
}

} // namespace

// ---------------------------------------------------------------------------
// TRenderer

TRenderer::TRenderer(const std::string& AId, TComponent* AOwner, TRendererFlags AFlags,
                     TOnCreateCompositeTexture AOnCreateCompositeTexture)
    : OnCreateCompositeTexture(std::move(AOnCreateCompositeTexture)), FId(AId), FFlags(AFlags), FOwner(AOwner)
{
}

TRenderer::~TRenderer() = default;

void TRenderer::AfterConstruction()
{
    if (auto* viewport = dynamic_cast<IKorvaneViewport*>(FOwner)) {
        FSize = TPoint(int32_t(std::lround(viewport->GetViewportWidth())),
                       int32_t(std::lround(viewport->GetViewportHeight())));
        FScale = viewport->GetViewportScale();
        CreateContext();
    } else if (auto* controller = dynamic_cast<TKorvaneRenderPassController*>(FOwner)) {
        FSize = controller->ViewportSize();
        FScale = controller->ViewportScale;
        CreateContext();
    }
}

void TRenderer::BeforeDestruction()
{
    // An owner that stays frees nothing of ours: the internal controllers go
    // with the renderer then, since they point back at it.
    const bool ownerDestroying = FOwner && FOwner->ComponentState().Contains(csDestroying);
    Guarded(this, "DestroyBuffers", [&] { DestroyBuffers(ownerDestroying); });
    FreeContext();
    TObject::BeforeDestruction();
}

void TRenderer::FreeContext()
{
    // The context renders into the composite texture: it goes first.
    FSharedContext.reset();
    FCompositeTexture.reset();
}

TKorvaneContext* TRenderer::KorvaneContext() const { return dynamic_cast<TKorvaneContext*>(FSharedContext.get()); }

TFrameBufferObject* TRenderer::DefaultFrameBuf() const
{
    TKorvaneContext* context = KorvaneContext();
    return context ? context->DefaultFrameBuf() : nullptr;
}

TFrameBufferObject* TRenderer::TranslucentBuf() const
{
    TKorvaneContext* context = KorvaneContext();
    return context ? context->TranslucentBuf() : nullptr;
}

IKorvaneViewport* TRenderer::OwnerViewport() const
{
    if (auto* viewport = dynamic_cast<IKorvaneViewport*>(FOwner)) return viewport;
    if (auto* controller = dynamic_cast<TKorvaneRenderPassController*>(FOwner)) return controller->Viewport();
    return nullptr;
}

void TRenderer::SetSize(const TPoint& AValue)
{
    if (AValue != FSize) Recreate(AValue, FScale);
}

void TRenderer::SetScale(float AValue)
{
    if (AValue != FScale) Recreate(FSize, AValue);
    else FScale = AValue;
}

void TRenderer::Recreate(const TPoint& ASize, float AScale)
{
    if (FSharedContext && FSharedContext->Width() == ASize.X && FSharedContext->Height() == ASize.Y &&
        FSharedContext->Scale() == AScale)
        return;
    FSize = ASize;
    FScale = AScale;
    CreateContext();
    CreateBuffers();
}

void TRenderer::CreateContext()
{
    WithPrefix("Failed to destroy renderer context, before creating a new one - ", [&] {
        DestroyBuffers(false);
        FreeContext();
    });
    TTexture* texture =
        WithPrefix("Failed to create renderer composite texture - ", [&] { return CreateCompositeTexture(); });
    WithPrefix("Failed to create renderer context - ", [&] {
        FSharedContext.reset(TContextManager::CreateFromTexture(texture, FMultisample, true));
    });
}

TTexture* TRenderer::CreateCompositeTexture()
{
    FCompositeTexture.reset();
    if (OnCreateCompositeTexture) {
        TKorvaneTextureBitmap* supplied = nullptr;
        OnCreateCompositeTexture(this, FSize, FScale, supplied);
        FCompositeTexture.reset(supplied);
        if (FCompositeTexture) return FCompositeTexture->Texture();
    }
    FCompositeTexture.reset(TKorvaneTextureBitmap::Create());
    TKorvaneTextureBitmap* bitmap = FCompositeTexture.get();
    bitmap->BeginSetup();
    try {
        bitmap->Style = {TTextureStyle::RenderTarget};
        bitmap->SetComponents(TPixelFormatEx::RGBA8);
        bitmap->SetFormat(TPixelFormatEx::BGRA);
        bitmap->SetDataType(TKorvaneTextureDataType::dtUnsignedByte);
        bitmap->SetSize(FSize.X, FSize.Y);
        bitmap->SetBitmapScale(FScale);
    } catch (...) {
        bitmap->EndSetup();
        throw;
    }
    bitmap->EndSetup();
    TTexture* texture = bitmap->Texture();
    if (texture) texture->TextureAccess().SetTextureScale(FScale);
    return texture;
}

void TRenderer::CreateBuffers() { DestroyBuffers(false); }

void TRenderer::Apply()
{
    TKorvaneContext* context = KorvaneContext();
    if (!context) return;
    AttachBuffers();
    context->LinkDepthBufferToTranslucentBuffer();
}

void TRenderer::Reset()
{
    if (TFrameBufferObject* fbo = DefaultFrameBuf()) fbo->Reset();
    if (TFrameBufferObject* fbo = TranslucentBuf()) fbo->Reset();
}

bool TRenderer::BeginMainRenderPass(const TMatrix3D& ACameraMatrix, float AAngleOfView)
{
    TKorvaneContext* context = KorvaneContext();
    if (!context) return false;
    const bool result = context->BeginSceneRendering();
    context->SetContextState(TContextState::csScissorOff);
    context->SetCameraMatrix(ACameraMatrix);
    context->SetCameraAngleOfView(AAngleOfView);
    return result;
}

void TRenderer::EndMainRenderPass()
{
    if (TKorvaneContext* context = KorvaneContext()) context->EndSceneRendering();
}

bool TRenderer::BeginOpaqueRendering()
{
    TKorvaneContext* context = KorvaneContext();
    if (!context) return false;
    context->SetContextStates(
        {TContextState::csZTestOn, TContextState::csZWriteOn, TContextState::csFrontFace});
    context->BindDefaultBuffer();
    const bool result = context->BeginSceneRendering();
    context->DisableBlendingBuffers();
    if (TFrameBufferObject* fbo = DefaultFrameBuf()) {
        // Each clear selects its own draw buffer, so that every target is
        // cleared whatever the buffer's draw list was; Prepare sets the list.
        fbo->Clear(FRenderTargets + TRenderTargets{TRenderTarget::Depth}, FColor, 1.0f, 0, true);
        fbo->Clear({TRenderTarget::Color_2, TRenderTarget::Color_3, TRenderTarget::Color_4}, TransparentBlack, 1.0f,
                   0, true);
        fbo->Prepare(FRenderTargets);
    }
    return result;
}

void TRenderer::EndOpaqueRendering()
{
    TKorvaneContext* context = KorvaneContext();
    if (!context) return;
    context->UnbindDefaultBuffer();
    context->EndSceneRendering();
}

bool TRenderer::BeginTranslucentRendering()
{
    TKorvaneContext* context = KorvaneContext();
    if (!context) return false;
    context->SetTranslucentRendering(true);
    context->SetContextStates({TContextState::csZTestOn});
    TFrameBufferObject* fbo = TranslucentBuf();
    if (fbo) {
        fbo->Bind(context);
        // A renderer without a G-buffer shares its composite texture between
        // both buffers: clearing it here would wipe the opaque half.
        TRenderTargets targets{TRenderTarget::Color_0, TRenderTarget::Color_1};
        TFrameBufferObject* opaque = DefaultFrameBuf();
        for (TRenderTarget target : {TRenderTarget::Color_0, TRenderTarget::Color_1}) {
            TTexture* texture = fbo->GetTextureByRenderTarget(target);
            for (int i = 0; opaque && texture && i < RenderTargetCount; ++i)
                if (opaque->GetTextureByRenderTarget(static_cast<TRenderTarget>(i)) == texture) {
                    targets.Exclude(target);
                    break;
                }
        }
        fbo->Clear(targets, TransparentBlack, 1.0f, 0, true);
    }
    const bool result = context->BeginSceneRendering();
    context->SetMemoryBarrierBit(TMemoryBarrierFlag::FrameBufferBarrierBit);
    context->EnableBlendingBuffers();
    using F = TBlendFactor;
    const TBlendSetting sum = TBlendSetting::Create(true, TBlendEquationFunc::befAdd, F::bfOne, F::bfOne);
    context->SetBlendingByIndex(0, sum);
    context->SetBlendingByIndex(1, TBlendSetting::Create(true, TBlendEquationFunc::befAdd, F::bfOne,
                                                         F::bfOneMinusSrcColor, F::bfOne, F::bfOneMinusSrcAlpha));
    for (int i = 2; i <= 4; ++i) context->SetBlendingByIndex(i, sum);
    if (fbo) fbo->Prepare(FRenderTargets);
    return result;
}

void TRenderer::EndTranslucentRendering()
{
    TKorvaneContext* context = KorvaneContext();
    if (!context) return;
    context->EndSceneRendering();
    if (TFrameBufferObject* fbo = TranslucentBuf()) fbo->Unbind(context);
    context->SetTranslucentRendering(false);
    context->FetchMemoryBarrierBit();
    context->SetContextStates({TContextState::csAlphaBlendOff});
}

// ---------------------------------------------------------------------------
// TLegacyRenderer

TLegacyRenderer::TLegacyRenderer(const std::string& AId, TComponent* AOwner, TRendererFlags AFlags,
                                 TOnCreateCompositeTexture AOnCreateCompositeTexture)
    : TRenderer(AId, AOwner, AFlags, std::move(AOnCreateCompositeTexture))
{
    FRenderTargets = {TRenderTarget::Color_0};
}

bool TLegacyRenderer::BeginMainRenderPass(const TMatrix3D& ACameraMatrix, float AAngleOfView)
{
    return TRenderer::BeginMainRenderPass(ACameraMatrix, AAngleOfView);
}

void TLegacyRenderer::EndMainRenderPass() { TRenderer::EndMainRenderPass(); }

bool TLegacyRenderer::BeginOpaqueRendering()
{
    TKorvaneContext* context = KorvaneContext();
    if (!context) return false;
    context->SetContextStates(
        {TContextState::csZTestOn, TContextState::csZWriteOn, TContextState::csFrontFace});
    context->BindDefaultBuffer();
    const bool result = context->BeginSceneRendering();
    context->DisableBlendingBuffers();
    // The composite texture goes on first, so that the clear reaches it.
    if (FCompositeTexture) context->AttachTextureToDefaultBuffer(FCompositeTexture->Texture(), TRenderTarget::Color_0);
    if (TFrameBufferObject* fbo = DefaultFrameBuf()) {
        fbo->Clear(FRenderTargets + TRenderTargets{TRenderTarget::Depth}, FColor, 1.0f, 0, true);
        fbo->Prepare(FRenderTargets);
    }
    return result;
}

void TLegacyRenderer::EndOpaqueRendering() { TRenderer::EndOpaqueRendering(); }

bool TLegacyRenderer::BeginTranslucentRendering()
{
    TKorvaneContext* context = KorvaneContext();
    if (!context) return false;
    context->SetTranslucentRendering(true);
    context->SetContextStates(
        {TContextState::csZTestOn, TContextState::csZWriteOn, TContextState::csFrontFace});
    context->BindDefaultBuffer();
    const bool result = context->BeginSceneRendering();
    context->EnableBlendingBuffers();
    using F = TBlendFactor;
    context->SetBlendingByIndex(0, TBlendSetting::Create(true, TBlendEquationFunc::befAdd, F::bfOne,
                                                         F::bfOneMinusSrcColor, F::bfOne, F::bfOneMinusSrcAlpha));
    if (TFrameBufferObject* fbo = DefaultFrameBuf()) fbo->Prepare(FRenderTargets);
    return result;
}

void TLegacyRenderer::EndTranslucentRendering()
{
    TKorvaneContext* context = KorvaneContext();
    if (!context) return;
    context->UnbindDefaultBuffer();
    context->EndSceneRendering();
    // Materials ask the flag for every draw: left set, the next opaque half
    // would draw as translucent.
    context->SetTranslucentRendering(false);
}

// ---------------------------------------------------------------------------
// TCompositeRenderer

TCompositeRenderer::TCompositeRenderer(const std::string& AId, TComponent* AOwner, TRendererFlags AFlags,
                                       TOnCreateCompositeTexture AOnCreateCompositeTexture)
    : TRenderer(AId, AOwner, AFlags, std::move(AOnCreateCompositeTexture))
{
    FRenderTargets = GBufferTargets;
}

TCompositeRenderer::~TCompositeRenderer() = default;

std::string TCompositeRenderer::InternalPassId(const char* AKind) const
{
    return FId + "_" + AKind + "_" + std::to_string(reinterpret_cast<uintptr_t>(this));
}

void TCompositeRenderer::CreateContext()
{
    TRenderer::CreateContext();
    if (TKorvaneContext* context = KorvaneContext()) context->SetTranslucentDistance(FTranslucentDistance);
}

void TCompositeRenderer::CreateBuffers()
{
    TRenderer::CreateBuffers();
    CreateDeferredCompositeCtrl();
    CreateEmissiveBlurCtrl();
    CreateGlobalIllumCtrls();
    CreateFXAACtrl();
    if (FFlags.Contains(TRendererFlag::IgnoreRenderTargets)) return;
    using P = TPixelFormatEx;
    using D = TKorvaneTextureDataType;
    FAlbedoTexture.reset(NewGBufferTexture(FSize, FScale, P::RGBA8, P::BGRA, D::dtUnsignedByte));
    FTranslucentAlbedoTexture.reset(NewGBufferTexture(FSize, FScale, P::RGBA16F, P::BGRA, D::dtHalfFloat));
    FAlphaTexture.reset(NewGBufferTexture(FSize, FScale, P::R16F, P::Alpha, D::dtHalfFloat));
    FPositionTexture.reset(NewGBufferTexture(FSize, FScale, P::RGBA16F, P::BGRA, D::dtHalfFloat));
    FPositionTexture->WrapS = TKorvaneTextureWrap::ClampToEdge;
    FPositionTexture->WrapT = TKorvaneTextureWrap::ClampToEdge;
    FNormalsTexture.reset(NewGBufferTexture(FSize, FScale, P::RGB16F, P::BGR, D::dtHalfFloat));
    // Marked as a quarter-scale texture but of the full pixel size: every
    // attachment of a frame buffer must cover the frame, or GL limits all
    // drawing to the smallest one.
    FEmissiveTexture.reset(NewGBufferTexture(FSize, 0.25f, P::RGB8, P::BGR, D::dtUnsignedByte));
    if (TKorvaneContext::IsContextAvailable())
        for (TKorvaneTexture* texture : {FAlbedoTexture.get(), FTranslucentAlbedoTexture.get(), FAlphaTexture.get(),
                                         FPositionTexture.get(), FNormalsTexture.get(), FEmissiveTexture.get()})
            texture->Initialize();
}

void TCompositeRenderer::FreeGBuffer()
{
    // The frame buffers must not keep textures that are about to go.
    for (TFrameBufferObject* fbo : {DefaultFrameBuf(), TranslucentBuf()})
        if (fbo)
            for (TKorvaneTexture* texture :
                 {FAlbedoTexture.get(), FTranslucentAlbedoTexture.get(), FAlphaTexture.get(), FPositionTexture.get(),
                  FNormalsTexture.get(), FEmissiveTexture.get()})
                if (texture) fbo->DetachTexture(texture);
    FAlbedoTexture.reset();
    FTranslucentAlbedoTexture.reset();
    FAlphaTexture.reset();
    FPositionTexture.reset();
    FNormalsTexture.reset();
    FEmissiveTexture.reset();
}

void TCompositeRenderer::DestroyBuffers(bool AOwnerDestroying)
{
    DestroyDeferredCompositeCtrl(AOwnerDestroying);
    DestroyEmissiveBlurCtrl(AOwnerDestroying);
    DestroyGlobalIllumCtrls(AOwnerDestroying);
    DestroyFXAACtrl(AOwnerDestroying);
    FreeGBuffer();
}

void TCompositeRenderer::DisposeCtrl(TKorvaneRenderPassController*& ACtrl, bool AOwnerDestroying)
{
    TKorvaneRenderPassController* ctrl = ACtrl;
    ACtrl = nullptr;
    if (!ctrl || AOwnerDestroying) return;
    IKorvaneViewport* viewport = OwnerViewport();
    if (viewport) {
        TComponent* component = viewport->GetViewportComponent();
        if (!component || !component->ComponentState().Contains(csDestroying)) viewport->RemoveRenderPass(ctrl);
    }
    ctrl->Free();
}

namespace {
// The internal controller fields are typed; disposal works on the base.
template <class T>
void Dispose(T*& AField, bool AOwnerDestroying, const std::function<void(TKorvaneRenderPassController*&, bool)>& AWork)
{
    TKorvaneRenderPassController* ctrl = AField;
    AField = nullptr;
    AWork(ctrl, AOwnerDestroying);
}
} // namespace

void TCompositeRenderer::DestroyDeferredCompositeCtrl(bool AOwnerDestroying)
{
    FDeferredCompositePass.reset();
    Dispose(FDeferredCompositeCtrl, AOwnerDestroying,
            [this](TKorvaneRenderPassController*& c, bool d) { DisposeCtrl(c, d); });
}

void TCompositeRenderer::DestroyEmissiveBlurCtrl(bool AOwnerDestroying)
{
    FEmissiveBlurPass.reset();
    Dispose(FEmissiveBlurCtrl, AOwnerDestroying,
            [this](TKorvaneRenderPassController*& c, bool d) { DisposeCtrl(c, d); });
}

void TCompositeRenderer::DestroyGlobalIllumCtrls(bool AOwnerDestroying)
{
    FVoxelizePass.reset();
    FGlobalIllumPass.reset();
    FGlobalIllumBlurPass.reset();
    auto work = [this](TKorvaneRenderPassController*& c, bool d) { DisposeCtrl(c, d); };
    // The blur and the illumination pass refer to the ones made before them.
    Dispose(FGlobalIllumBlurCtrl, AOwnerDestroying, work);
    Dispose(FGlobalIllumCtrl, AOwnerDestroying, work);
    Dispose(FVoxelizeCtrl, AOwnerDestroying, work);
}

void TCompositeRenderer::DestroyFXAACtrl(bool AOwnerDestroying)
{
    FFXAAPass.reset();
    Dispose(FFXAACtrl, AOwnerDestroying, [this](TKorvaneRenderPassController*& c, bool d) { DisposeCtrl(c, d); });
}

void TCompositeRenderer::CreateDeferredCompositeCtrl()
{
    DestroyDeferredCompositeCtrl(false);
    if (FFlags.Contains(TRendererFlag::IgnoreCompositeCtrl)) return;
    auto* ctrl = TKorvaneRenderPassController::Create<TKorvaneRenderPassDeferredComposite>(
        FOwner, InternalPassId("DeferredComposite"));
    FDeferredCompositeCtrl = ctrl;
    ctrl->SetRenderer(this);
    ctrl->SetSaturation(FSaturation);
    ctrl->SetEmissiveBlur(FEmissiveBlur);
    ctrl->SetViewportSizeAndScaleWithoutResize(OwnerViewport(), FSize, FScale);
}

void TCompositeRenderer::CreateEmissiveBlurCtrl()
{
    DestroyEmissiveBlurCtrl(false);
    if (FFlags.Contains(TRendererFlag::IgnoreEmissiveBlur)) return;
    auto* ctrl =
        TKorvaneRenderPassController::Create<TKorvaneRenderPassEmissiveBlur>(FOwner, InternalPassId("EmissiveBlur"));
    FEmissiveBlurCtrl = ctrl;
    ctrl->SetBlurAmount(float(FEmissiveBlur));
    ctrl->SetViewportSizeAndScaleWithoutResize(OwnerViewport(), FSize, FScale);
}

void TCompositeRenderer::CreateGlobalIllumCtrls()
{
    DestroyGlobalIllumCtrls(false);
    if (FFlags.Contains(TRendererFlag::IgnoreGlobalIllum)) return;
    const bool enabled = FGlobalIllumDetail > 0;
    auto* voxelize =
        TKorvaneRenderPassController::Create<TKorvaneRenderPassEmbeddedVoxelize>(FOwner, InternalPassId("Voxelize"));
    FVoxelizeCtrl = voxelize;
    voxelize->SetEnabled(enabled);
    voxelize->SetVoxelSize(VoxelSizeFromDetail());
    if (IKorvaneViewport* viewport = OwnerViewport()) voxelize->SetViewport(viewport);

    auto* gi = TKorvaneRenderPassController::Create<TKorvaneRenderPassEmbeddedGlobalIllum>(
        FOwner, InternalPassId("GlobalIllum"));
    FGlobalIllumCtrl = gi;
    gi->SetEnabled(enabled);
    gi->SetViewportSizeAndScaleWithoutResize(OwnerViewport(), FSize, FScale);
    gi->SetVoxelGeometry(voxelize);
    gi->SetShadowStrength(FShadowStrength);
    gi->SetReflectionStrength(FReflectionStrength);

    auto* blur = TKorvaneRenderPassController::Create<TKorvaneRenderPassGlobalIllumBlur>(
        FOwner, InternalPassId("GlobalIllumBlur"));
    FGlobalIllumBlurCtrl = blur;
    blur->SetEnabled(enabled);
    blur->SetBlurAmount(FGlobalIllumSoftness);
    blur->SetViewportSizeAndScaleWithoutResize(OwnerViewport(), FSize, FScale);
    blur->SetGlobalIllumPass(gi);
}

void TCompositeRenderer::CreateFXAACtrl()
{
    DestroyFXAACtrl(false);
    if (!FDeferredCompositeCtrl) return;
    auto* ctrl = TKorvaneRenderPassController::Create<TKorvaneRenderPassFXAA>(FOwner, InternalPassId("FXAA"));
    FFXAACtrl = ctrl;
    ctrl->Iterations = FXAASteps;
    ctrl->SetInputPass(FDeferredCompositeCtrl);
    ctrl->SetViewportSizeAndScaleWithoutResize(OwnerViewport(), FSize, FScale);
}

void TCompositeRenderer::SetTranslucentDistance(float AValue)
{
    FTranslucentDistance = ClampSingle(AValue, 1.0f, 10000.0f);
    if (TKorvaneContext* context = KorvaneContext()) context->SetTranslucentDistance(FTranslucentDistance);
}

void TCompositeRenderer::SetSaturation(const TPoint3D& AValue)
{
    FSaturation = AValue;
    if (FDeferredCompositeCtrl) FDeferredCompositeCtrl->SetSaturation(AValue);
}

void TCompositeRenderer::SetEmissiveBlur(int AValue)
{
    FEmissiveBlur = std::clamp(AValue, 0, 15);
    if (FDeferredCompositeCtrl) FDeferredCompositeCtrl->SetEmissiveBlur(FEmissiveBlur);
    if (FEmissiveBlurCtrl) FEmissiveBlurCtrl->SetBlurAmount(float(FEmissiveBlur));
}

int TCompositeRenderer::MaxTexture3DSize() const { return TKorvaneContext::MaxTexture3DSize(); }

int TCompositeRenderer::VoxelSizeFromDetail()
{
    int size = TKorvaneRenderPassVoxelize::GetVoxelSizeFromDetail(FGlobalIllumDetail);
    if (!FSharedContext) return size;
    const int maxSize = MaxTexture3DSize();
    while (FGlobalIllumDetail > 0 && int64_t(size) * 8 > maxSize) {
        --FGlobalIllumDetail;
        size = TKorvaneRenderPassVoxelize::GetVoxelSizeFromDetail(FGlobalIllumDetail);
    }
    return size;
}

void TCompositeRenderer::SetGlobalIllumDetail(int AValue)
{
    FGlobalIllumDetail = std::clamp(AValue, 0, 7);
    const int voxelSize = VoxelSizeFromDetail();
    const bool enabled = FGlobalIllumDetail > 0;
    if (FVoxelizeCtrl) {
        if (enabled) FVoxelizeCtrl->SetVoxelSize(voxelSize);
        FVoxelizeCtrl->SetEnabled(enabled);
    }
    if (FGlobalIllumCtrl) FGlobalIllumCtrl->SetEnabled(enabled);
    if (FGlobalIllumBlurCtrl) FGlobalIllumBlurCtrl->SetEnabled(enabled);
}

void TCompositeRenderer::SetGlobalIllumSoftness(float AValue)
{
    FGlobalIllumSoftness = ClampSingle(AValue, 0.0f, 5.0f);
    if (FGlobalIllumBlurCtrl) FGlobalIllumBlurCtrl->SetBlurAmount(FGlobalIllumSoftness);
}

void TCompositeRenderer::SetShadowStrength(float AValue)
{
    FShadowStrength = ClampSingle(AValue, 0.0f, 10.0f);
    if (FGlobalIllumCtrl) FGlobalIllumCtrl->SetShadowStrength(FShadowStrength);
}

void TCompositeRenderer::SetReflectionStrength(float AValue)
{
    FReflectionStrength = ClampSingle(AValue, 0.0f, 10.0f);
    if (FGlobalIllumCtrl) FGlobalIllumCtrl->SetReflectionStrength(FReflectionStrength);
}

void TCompositeRenderer::SetFXAA(int AValue)
{
    FXAASteps = std::clamp(AValue, 0, 8);
    if (FFXAACtrl) FFXAACtrl->Iterations = FXAASteps;
}

bool TCompositeRenderer::BeginOpaqueRendering()
{
    // The composite step puts the composite texture back on colour 0.
    if (TKorvaneContext* context = KorvaneContext())
        if (FAlbedoTexture) context->AttachTextureToDefaultBuffer(FAlbedoTexture.get(), TRenderTarget::Color_0);
    return TRenderer::BeginOpaqueRendering();
}

namespace {
// The pass object of an internal controller, made on first use; AMissing
// names the controller when there is none.
TRenderPass* InternalPass(TOwned<TRenderPass>& APass, TKorvaneRenderPassController* ACtrl, TContext3D* AContext,
                          const char* AMissing)
{
    if (!APass) {
        if (!ACtrl) throw Exception(AMissing);
        APass.reset(ACtrl->CreateRenderPassInstance(AContext));
    }
    return APass.get();
}
} // namespace

void TCompositeRenderer::RenderGlobalIllumination(PRenderContext ARenderContext)
{
    if (FFlags.Contains(TRendererFlag::IgnoreGlobalIllum) || FGlobalIllumDetail <= 0) return;
    TKorvaneContext* context = KorvaneContext();
    TRenderPass* voxelize = InternalPass(FVoxelizePass, FVoxelizeCtrl, context,
                                         "renderer do not contain global illumination voxelize render-pass");
    context->ExecuteRenderPass(voxelize, ARenderContext);
    const bool firstUse = !FGlobalIllumPass;
    TRenderPass* gi =
        InternalPass(FGlobalIllumPass, FGlobalIllumCtrl, context, "renderer do not contain global illumination render-pass");
    if (firstUse) {
        FGlobalIllumCtrl->SetPositionTexture(FPositionTexture.get());
        FGlobalIllumCtrl->SetNormalsTexture(FNormalsTexture.get());
        FGlobalIllumCtrl->SetVoxelGeometry(FVoxelizeCtrl);
    }
    context->ExecuteRenderPass(gi, ARenderContext);
    const bool blurFirstUse = !FGlobalIllumBlurPass;
    TRenderPass* blur = InternalPass(FGlobalIllumBlurPass, FGlobalIllumBlurCtrl, context,
                                     "renderer do not contain global illumination blurring render-pass");
    if (blurFirstUse) FGlobalIllumBlurCtrl->SetGlobalIllumPass(FGlobalIllumCtrl);
    if (FGlobalIllumSoftness > 0) context->ExecuteRenderPass(blur, ARenderContext);
}

TTexture* TCompositeRenderer::RenderEmissiveBlur(PRenderContext ARenderContext)
{
    TTexture* emissive = FEmissiveTexture.get();
    if (FFlags.Contains(TRendererFlag::IgnoreEmissiveBlur) || FEmissiveBlur < 1) return emissive;
    TKorvaneContext* context = KorvaneContext();
    const bool firstUse = !FEmissiveBlurPass;
    TRenderPass* pass =
        InternalPass(FEmissiveBlurPass, FEmissiveBlurCtrl, context, "renderer do not contain emissive blur render-pass");
    if (firstUse) {
        FEmissiveBlurCtrl->SetBlurAmount(float(FEmissiveBlur));
        FEmissiveBlurCtrl->SetEmissiveTexture(emissive);
    }
    context->ExecuteRenderPass(pass, ARenderContext);
    return FEmissiveBlurCtrl->GetFinalOutputTexture();
}

void TCompositeRenderer::RenderFXAA(PRenderContext ARenderContext)
{
    if (FXAASteps == 0) return;
    TKorvaneContext* context = KorvaneContext();
    const bool firstUse = !FFXAAPass;
    TRenderPass* pass = InternalPass(FFXAAPass, FFXAACtrl, context, "renderer do not contain fxaa render-pass");
    if (firstUse) {
        FFXAACtrl->Iterations = FXAASteps;
        FFXAACtrl->SetCompositeInputTexture(FDeferredCompositeCtrl ? FDeferredCompositeCtrl->GetOutputTexture()
                                                                   : nullptr);
    }
    context->ExecuteRenderPass(pass, ARenderContext);
}

void TCompositeRenderer::Composite(PRenderContext ARenderContext)
{
    TKorvaneContext* context = KorvaneContext();
    if (!context) return;
    context->SetMemoryBarrierBits(AllMemoryBarrierFlags());
    RenderGlobalIllumination(ARenderContext);
    TTexture* emissive = RenderEmissiveBlur(ARenderContext);
    TRenderPass* composite = InternalPass(FDeferredCompositePass, FDeferredCompositeCtrl, context,
                                          "renderer do not contain composite render-pass");
    if (FCompositeTexture) context->AttachTextureToDefaultBuffer(FCompositeTexture->Texture(), TRenderTarget::Color_0);
    TKorvaneRenderPassDeferredComposite* ctrl = FDeferredCompositeCtrl;
    ctrl->SetAlbedoTexture(FAlbedoTexture.get());
    ctrl->SetTranslucentAlbedoTexture(FTranslucentAlbedoTexture.get());
    ctrl->SetAlphaTexture(FAlphaTexture.get());
    ctrl->SetPositionTexture(FPositionTexture.get());
    ctrl->SetNormalsTexture(FNormalsTexture.get());
    ctrl->SetEmissiveTexture(emissive);
    ctrl->SetEmissiveBlur(FEmissiveBlur);
    TKorvaneRenderPassController* giPass = nullptr;
    if (FGlobalIllumDetail > 0)
        giPass = FGlobalIllumSoftness > 0 ? static_cast<TKorvaneRenderPassController*>(FGlobalIllumBlurCtrl)
                                          : static_cast<TKorvaneRenderPassController*>(FGlobalIllumCtrl);
    ctrl->SetGlobalIllumPass(giPass);
    context->ExecuteRenderPass(composite, ARenderContext);
    RenderFXAA(ARenderContext);
}

// ---------------------------------------------------------------------------
// TForwardRenderer

TForwardRenderer::TForwardRenderer(const std::string& AId, TComponent* AOwner, TRendererFlags AFlags,
                                   TOnCreateCompositeTexture AOnCreateCompositeTexture)
    : TCompositeRenderer(AId, AOwner, AFlags, std::move(AOnCreateCompositeTexture))
{
    FRenderTargets = GBufferTargets;
}

void TForwardRenderer::AttachBuffers()
{
    if (!FSharedContext) CreateContext();
    TKorvaneContext* context = KorvaneContext();
    if (!context) return;
    if (!FAlphaTexture || !FAlbedoTexture || !FTranslucentAlbedoTexture) CreateBuffers();
    if (FFlags.Contains(TRendererFlag::IgnoreRenderTargets) && FFlags.Contains(TRendererFlag::IgnoreCompositeCtrl)) {
        TTexture* composite = FCompositeTexture ? FCompositeTexture->Texture() : nullptr;
        context->AttachTextureToDefaultBuffer(composite, TRenderTarget::Color_0);
        context->AttachTextureToTranslucentBuffer(composite, TRenderTarget::Color_0);
        return;
    }
    context->AttachTextureToDefaultBuffer(FAlbedoTexture.get(), TRenderTarget::Color_0);
    context->AttachTextureToTranslucentBuffer(FTranslucentAlbedoTexture.get(), TRenderTarget::Color_0);
    const std::pair<TKorvaneTexture*, TRenderTarget> shared[] = {{FAlphaTexture.get(), TRenderTarget::Color_1},
                                                                 {FPositionTexture.get(), TRenderTarget::Color_2},
                                                                 {FNormalsTexture.get(), TRenderTarget::Color_3},
                                                                 {FEmissiveTexture.get(), TRenderTarget::Color_4}};
    for (const auto& [texture, target] : shared) {
        context->AttachTextureToDefaultBuffer(texture, target);
        context->AttachTextureToTranslucentBuffer(texture, target);
    }
}

} // namespace korvane
