#include "Korvane.Controller.h"

#include <cfenv>
#include <cmath>

#include "Korvane.Context.Texturing.h"
#include "Korvane.Context.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Log.h"
#include "Platform.SysUtils.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneController, "Korvane.Controller")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassController, "Korvane.Controller")
KORVANE_IMPLEMENT_CLASS(TKorvaneManagedControl, "Korvane.Controller")
KORVANE_IMPLEMENT_CLASS(TKorvaneManagedControls, "Korvane.Controller")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassMaterialSource, "Korvane.Controller")
KORVANE_IMPLEMENT_CLASS(TKorvaneRenderPassMaterial, "Korvane.Controller")

namespace {

// Rounds half to even, as the pass sizes are rounded.
int32_t RoundEven(double AValue) { return static_cast<int32_t>(std::nearbyint(AValue)); }

TMatrix3D CreateBiasMatrix() { return KorvaneBiasMatrix(); }

// The mesh node class, once its unit registered it; its sub-meshes are its
// children of that class.
TClass MeshClass() { return GetClass("Korvane.Mesh.TKorvaneMesh"); }

} // namespace

TMemoryBarrierFlags AllMemoryBarrierFlags()
{
    TMemoryBarrierFlags all;
    for (int i = 0; i <= static_cast<int>(TMemoryBarrierFlag::ShaderStorageBarrierBit); ++i)
        all.Include(static_cast<TMemoryBarrierFlag>(i));
    return all;
}

TMatrix3D KorvaneBiasMatrix()
{
    TMatrix3D m{};
    m.m11 = m.m22 = m.m33 = 0.5f;
    m.m41 = m.m42 = m.m43 = 0.5f;
    m.m44 = 1.0f;
    return m;
}

// ---------------------------------------------------------------------------
// TKorvaneManagedControl(s)

void TKorvaneManagedControl::Assign(const TPersistent* Source)
{
    if (auto* item = dynamic_cast<const TKorvaneManagedControl*>(Source)) {
        FControl = item->FControl;
        return;
    }
    TCollectionItem::Assign(Source);
}

int TKorvaneManagedControls::IndexOf(const TControl3D* ACtrl) const
{
    for (int i = 0; i < Count(); ++i)
        if (Item(i)->Control() == ACtrl) return i;
    return -1;
}

TKorvaneManagedControl* TKorvaneManagedControls::GetManagedControl(const TControl3D* ACtrl) const
{
    const int index = IndexOf(ACtrl);
    return index >= 0 ? Item(index) : nullptr;
}

void TKorvaneManagedControls::Remove(const TControl3D* ACtrl)
{
    const int index = IndexOf(ACtrl);
    if (index >= 0) Delete(index);
}

void TKorvaneManagedControls::Notification(TComponent* AComponent, TOperation Operation)
{
    if (Operation != opRemove || !AComponent) return;
    for (int i = 0; i < Count(); ++i)
        if (Item(i)->Control() == AComponent) Item(i)->SetControl(nullptr);
}

// ---------------------------------------------------------------------------
// TKorvaneRenderPassController: life cycle

TKorvaneRenderPassController::TKorvaneRenderPassController(TComponent* AOwner)
    : TKorvaneController(AOwner), FBiasMatrix(CreateBiasMatrix())
{
}

TKorvaneRenderPassController::~TKorvaneRenderPassController() = default;

void TKorvaneRenderPassController::AfterConstruction()
{
    InitDefaults();
    CreateRenderer();
    ResetRendererToViewportSize();
    MarkMatricesDirty();
    FTextureMatrix = TMatrix3D::Identity();
    FBiasMatrix = CreateBiasMatrix();
    CreateAllowedControls();
    CreateIgnoredControls();
}

void TKorvaneRenderPassController::InitDefaults()
{
    FType = TRenderPassType::Pre;
    Method = TRenderPassMethod::RenderListToFBO;
    RenderProc = TRenderPassRenderingProc::DefaultRendering;
    Blendings = {};
    FRendererType = TRendererType::ForwardRenderer;
    FRendererFlags = {TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum};
    Iterations = 1;
    if (IKorvaneViewport* viewport = FindPassViewport()) {
        FViewport = viewport;
        if (TComponent* component = viewport->GetViewportComponent()) component->FreeNotification(this);
        FViewportSize = TPoint(RoundEven(viewport->GetViewportWidth()), RoundEven(viewport->GetViewportHeight()));
        ViewportScale = viewport->GetViewportScale();
    }
}

void TKorvaneRenderPassController::InitRectPassDefaults()
{
    FType = TRenderPassType::Post;
    Method = TRenderPassMethod::RectToFBO;
    FRendererFlags = AllRendererFlags;
    Iterations = 1;
    Blendings = {};
    using F = TBlendFactor;
    Blendings[0] = TBlendSetting::Create(false, TBlendEquationFunc::befAdd, F::bfOne, F::bfOne, F::bfOne, F::bfOne);
}

void TKorvaneRenderPassController::BeforeDestruction()
{
    SetEnabled(false);
    Guarded(this, "SetViewport", [&] { SetViewport(nullptr); });
    FAllowedControls.reset();
    FIgnoredControls.reset();
    FreeRenderer();
    FPingPongTexture.reset();
    FRectVBuffer.reset();
    FRectIBuffer.reset();
    TKorvaneController::BeforeDestruction();
}

IKorvaneViewport* TKorvaneRenderPassController::FindPassViewport() const
{
    TComponent* start = Parent() ? static_cast<TComponent*>(Parent()) : Owner();
    for (TComponent* c = start; c;) {
        if (auto* viewport = dynamic_cast<IKorvaneViewport*>(c)) return viewport;
        auto* node = dynamic_cast<TTreeObject*>(c);
        c = node ? node->Parent() : nullptr;
    }
    return nullptr;
}

void TKorvaneRenderPassController::Notification(TComponent* AComponent, TOperation Operation)
{
    TKorvaneController::Notification(AComponent, Operation);
    if (Operation != opRemove || !AComponent) return;
    if (FViewport && FViewport->GetViewportComponent() == AComponent) {
        // A viewport on its way out takes its context (and pass table) along.
        FViewport = nullptr;
        if (!ComponentState().Contains(csDestroying)) {
            FreeRenderer();
            FPreviousRenderer = nullptr;
        }
    }
    if (FShader && GetInputPass() == AComponent) SetInputPass(nullptr);
    if (FIgnoredControls) FIgnoredControls->Notification(AComponent, Operation);
    if (FAllowedControls) FAllowedControls->Notification(AComponent, Operation);
}

void TKorvaneRenderPassController::SetName(const std::string& NewName)
{
    TKorvaneController::SetName(NewName);
    if (IsDesigning()) SetId(NewName);
}

// ---------------------------------------------------------------------------
// Identity, viewport and the pass table

void TKorvaneRenderPassController::SetId(const std::string& AValue)
{
    const std::string old = FId;
    FId = AValue;
    if (old != AValue) UnregisterRenderPassIdsFromViewport(old, AValue);
    if (!AValue.empty() && FViewport) FViewport->UpdateRenderPasses();
}

void TKorvaneRenderPassController::Set_Type(TRenderPassType AValue)
{
    FType = AValue;
    if (!FId.empty() && FViewport) FViewport->UpdateRenderPasses();
}

void TKorvaneRenderPassController::SetViewport(IKorvaneViewport* AValue)
{
    if (FViewport == AValue) return;
    if (FViewport) {
        FViewport->RemoveRenderPass(this);
        UnregisterRenderPassIdsFromViewport(FId, FId);
        if (TComponent* component = FViewport->GetViewportComponent()) component->RemoveFreeNotification(this);
    }
    FViewport = AValue;
    if (!AValue) return;
    if (TComponent* component = AValue->GetViewportComponent()) component->FreeNotification(this);
    if (FViewportSize.X == 0 || FViewportSize.Y == 0 || ViewportScale == 0) {
        FViewportSize = TPoint(RoundEven(AValue->GetViewportWidth()), RoundEven(AValue->GetViewportHeight()));
        ViewportScale = AValue->GetViewportScale();
    }
    if (!FRenderer) CreateRenderer();
    if (FRenderer) ResizeRenderer(FViewportSize, ViewportScale);
    ResetRendererToViewportSize();
    AValue->AddRenderPass(this);
}

void TKorvaneRenderPassController::UnregisterRenderPassIds(TContext3D* AContext, const std::string& AOldId,
                                                           const std::string& ANewId)
{
    auto* context = dynamic_cast<TKorvaneContext*>(AContext);
    TRenderPasses* table = context ? context->RenderPasses() : nullptr;
    if (!table) return;
    if (table->ContainsKey(AOldId)) table->Remove(AOldId);
    if (table->ContainsKey(ANewId)) table->Remove(ANewId);
}

void TKorvaneRenderPassController::UnregisterRenderPassIdsFromViewport(const std::string& AOldId,
                                                                       const std::string& ANewId)
{
    if (FViewport) UnregisterRenderPassIds(FViewport->GetViewportContext(), AOldId, ANewId);
}

namespace {
void FillPass(TRenderPass* APass, TKorvaneRenderPassController* ACtrl)
{
    APass->Id = ACtrl->Id();
    APass->_Type = ACtrl->_Type();
    APass->Method = ACtrl->Method;
    APass->OnBeginRendering = [ACtrl](TContext3D* AContext, int ACount, TRenderPass* APassArg) {
        ACtrl->DoOnBeginRenderPass(AContext, ACount, APassArg);
    };
    APass->OnEndRendering = [ACtrl](TContext3D* AContext, int ACount, TRenderPass* APassArg) {
        ACtrl->DoOnEndRenderPass(AContext, ACount, APassArg);
    };
}
} // namespace

void TKorvaneRenderPassController::UpdateRenderPass()
{
    if (!FViewport) {
        IKorvaneViewport* viewport = FindPassViewport();
        if (!viewport) return;
        SetViewport(viewport);
        if (!FViewport) return;
    }
    auto* context = dynamic_cast<TKorvaneContext*>(FViewport->GetViewportContext());
    if (!context || !FRenderer || !FRenderer->SharedContext()) return;
    if (IsInternalRenderPass()) return;
    TRenderPasses* table = context->RenderPasses();
    // A pass under the empty id would never be freed by the table.
    if (!table || FId.empty()) return;
    TRenderPass* pass = nullptr;
    if (!table->TryGetValue(FId, pass)) {
        pass = new TRenderPass(FRenderer->SharedContext(), this);
        table->AddOrSetValue(FId, pass);
        if (FType == TRenderPassType::Intermediate) context->AddIntermediatePass(pass);
    }
    FillPass(pass, this);
    SetupRenderPass(pass);
}

TRenderPass* TKorvaneRenderPassController::CreateRenderPassInstance(TContext3D*)
{
    if (!FRenderer || !FRenderer->SharedContext()) return nullptr;
    auto* pass = new TRenderPass(FRenderer->SharedContext(), this);
    FillPass(pass, this);
    return pass;
}

void TKorvaneRenderPassController::UpdateOnResize()
{
    MarkMatricesDirty();
    if (!FViewport) return;
    FViewportSize = TPoint(RoundEven(FViewport->GetViewportWidth()), RoundEven(FViewport->GetViewportHeight()));
    ViewportScale = FViewport->GetViewportScale();
    ResetRendererToViewportSize();
}

void TKorvaneRenderPassController::SetViewportSizeAndScaleWithoutResize(IKorvaneViewport* AViewport,
                                                                         const TPoint& ASize, float AScale)
{
    FViewportSize = ASize;
    ViewportScale = AScale;
    if (AViewport && AViewport != FViewport) {
        if (FViewport)
            if (TComponent* component = FViewport->GetViewportComponent()) component->RemoveFreeNotification(this);
        FViewport = AViewport;
        if (TComponent* component = AViewport->GetViewportComponent()) component->FreeNotification(this);
    }
    MarkMatricesDirty();
}

// ---------------------------------------------------------------------------
// Renderer

void TKorvaneRenderPassController::FreeRenderer()
{
    if (FRenderer && FOwnsRenderer) {
        TRenderer* renderer = FRenderer;
        FRenderer = nullptr;
        renderer->Free();
    }
    FRenderer = nullptr;
}

void TKorvaneRenderPassController::CreateRenderer()
{
    if (!FViewport) return;
    FreeRenderer();
    FOwnsRenderer = true;
    auto onCreate = [this](TRenderer* ASender, const TPoint& ASize, float AScale, TKorvaneTextureBitmap*& ATexture) {
        CreateTargetTexture(ASender, ASize, AScale, ATexture);
    };
    switch (FRendererType) {
    case TRendererType::ForwardRenderer:
        FRenderer = TRenderer::Create<TForwardRenderer>(FId, this, FRendererFlags, onCreate);
        break;
    case TRendererType::LegacyRenderer:
        FRenderer = TRenderer::Create<TLegacyRenderer>(FId, this, FRendererFlags, onCreate);
        break;
    default: throw Exception("renderer type not supported in render-pass " + FId);
    }
}

TTexture* TKorvaneRenderPassController::PingPongTexture()
{
    TKorvaneTextureBitmap* bitmap = FBOTexture();
    TTexture* composite = bitmap ? bitmap->Texture() : nullptr;
    if (!composite) return nullptr;
    if (FPingPongTexture && FPingPongTexture->Width() == composite->Width() &&
        FPingPongTexture->Height() == composite->Height())
        return FPingPongTexture.get();
    // Detached first: the frame buffer must not keep a texture that goes.
    if (FPingPongTexture)
        if (TFrameBufferObject* fbo = FBO()) fbo->DetachTexture(FPingPongTexture.get());
    TKorvaneTexture* texture = TKorvaneTexture::Create();
    FPingPongTexture.reset(texture);
    texture->Components = TPixelFormatEx::RGBA8;
    texture->SetFormat(TPixelFormatEx::BGRA);
    texture->DataType = TKorvaneTextureDataType::dtUnsignedByte;
    texture->SetStyle({TTextureStyle::RenderTarget});
    texture->WrapS = TKorvaneTextureWrap::ClampToEdge;
    texture->WrapT = TKorvaneTextureWrap::ClampToEdge;
    texture->SetSize(composite->Width(), composite->Height());
    if (TKorvaneContext::IsContextAvailable()) texture->Initialize();
    return texture;
}

TTexture* TKorvaneRenderPassController::AttachIterationTarget(bool AToComposite)
{
    TKorvaneContext* context = FRenderer ? FRenderer->KorvaneContext() : nullptr;
    TKorvaneTextureBitmap* bitmap = FBOTexture();
    if (!context || !bitmap || !bitmap->Texture()) return nullptr;
    TTexture* target = AToComposite ? bitmap->Texture() : PingPongTexture();
    TFrameBufferObject* fbo = FBO();
    if (fbo && fbo->GetTextureByRenderTarget(TRenderTarget::Color_0) != target)
        context->AttachTextureToDefaultBuffer(target, TRenderTarget::Color_0);
    return target;
}

void TKorvaneRenderPassController::SetRendererType(TRendererType AValue)
{
    FRendererType = AValue;
    CreateRenderer();
}

TFrameBufferObject* TKorvaneRenderPassController::FBO() const
{
    return FRenderer ? FRenderer->DefaultFrameBuf() : nullptr;
}

TKorvaneTextureBitmap* TKorvaneRenderPassController::FBOTexture() const
{
    return FRenderer ? FRenderer->CompositeTexture() : nullptr;
}

void TKorvaneRenderPassController::ApplyRenderer()
{
    if (FRenderer) FRenderer->Apply();
}

void TKorvaneRenderPassController::ResizeRenderer(const TPoint& ASize, float AScale)
{
    if (FRenderer) FRenderer->Resize(ASize, AScale);
}

void TKorvaneRenderPassController::SetRendererColor(const TAlphaColorF& AColor)
{
    if (FRenderer) FRenderer->SetColor(AColor);
}

void TKorvaneRenderPassController::CreateTargetTexture(TRenderer*, const TPoint&, float, TKorvaneTextureBitmap*&) {}

void TKorvaneRenderPassController::ApplyBackgroundColor()
{
    if (!FRenderer) return;
    TAlphaColor color = TAlphaColors::Black;
    if (FOverwriteColor) color = FBackgroundColor;
    else if (FViewport) color = FViewport->GetViewportColor();
    SetRendererColor(TAlphaColorF::Create(color));
}

void TKorvaneRenderPassController::SetOverwriteColor(bool AValue)
{
    FOverwriteColor = AValue;
    ApplyBackgroundColor();
}

void TKorvaneRenderPassController::SetBackgroundColor(TAlphaColor AValue)
{
    FBackgroundColor = AValue;
    ApplyBackgroundColor();
}

void TKorvaneRenderPassController::ResetRenderer()
{
    if (!FRenderer) {
        CreateRenderer();
    } else if (FOwnsRenderer) {
        FreeRenderer();
        CreateRenderer();
    }
    if (FRenderer) ApplyRenderer();
}

void TKorvaneRenderPassController::ResetRendererToViewportSize()
{
    if (!FViewport) return;
    if (FRenderer) FRenderer->Reset();
    ResetRenderer();
}

void TKorvaneRenderPassController::BindRenderer()
{
    TKorvaneContext* context = FRenderer ? FRenderer->KorvaneContext() : nullptr;
    if (!context) return;
    context->BindDefaultBuffer();
    context->BeginSceneRendering();
}

void TKorvaneRenderPassController::UnbindRenderer()
{
    TKorvaneContext* context = FRenderer ? FRenderer->KorvaneContext() : nullptr;
    if (!context) return;
    context->EndSceneRendering();
    context->UnbindDefaultBuffer();
}

// ---------------------------------------------------------------------------
// Size

void TKorvaneRenderPassController::SetViewportSize(const TPoint& AValue)
{
    FViewportSize = AValue;
    MarkMatricesDirty();
    if (FRenderer) ResizeRenderer(FViewportSize, ViewportScale);
}

void TKorvaneRenderPassController::SetViewportWidth(int AValue)
{
    FViewportSize.X = AValue;
    MarkMatricesDirty();
}

void TKorvaneRenderPassController::SetViewportHeight(int AValue)
{
    FViewportSize.Y = AValue;
    MarkMatricesDirty();
}

TPoint TKorvaneRenderPassController::ComputeRenderingSize(TContext3D*, int AWidth, int AHeight)
{
    TContext3D* shared = FRenderer ? FRenderer->SharedContext() : nullptr;
    if (!shared) return TPoint(0, 0);
    double w, h;
    if (OverwriteViewportSize) {
        w = FViewportSize.X;
        h = FViewportSize.Y;
    } else if (AWidth <= 0 || AHeight <= 0) {
        w = shared->Width();
        h = shared->Height();
    } else {
        w = AWidth;
        h = AHeight;
    }
    if (ScaleViewportSize) {
        w = RoundEven(w * ViewportScale);
        h = RoundEven(h * ViewportScale);
    }
    return TPoint(RoundEven(w * shared->Scale()), RoundEven(h * shared->Scale()));
}

// ---------------------------------------------------------------------------
// One run of the pass

void TKorvaneRenderPassController::BeginRenderPassRendering(TContext3D*, TAlphaColor, float, uint32_t)
{
    if (!FViewport || !FRenderer || !FRenderer->SharedContext()) return;
    FPreviousRenderer = FViewport->GetCurrentRenderer();
    FViewport->SetCurrentRenderer(FRenderer);
    FViewport->ApplyLightSettings(FRenderer->SharedContext());
    BindRenderer();
}

void TKorvaneRenderPassController::EndRenderPassRendering(TContext3D*)
{
    if (!FRenderer || !FRenderer->SharedContext()) return;
    UnbindRenderer();
    if (FViewport) FViewport->SetCurrentRenderer(FPreviousRenderer);
    if (FType == TRenderPassType::Post && FPreviousRenderer) FPreviousRenderer->SetAttachedRenderer(FRenderer);
}

void TKorvaneRenderPassController::DoOnBeginRenderPass(TContext3D*, int ACount, TRenderPass* APass)
{
    if (OnBeginRender && FRenderer) OnBeginRender(this, FRenderer->SharedContext(), ACount, APass);
    BeginSetup(ACount, APass);
}

void TKorvaneRenderPassController::DoOnEndRenderPass(TContext3D*, int ACount, TRenderPass* APass)
{
    EndSetup(ACount, APass);
    if (OnEndRender && FRenderer) OnEndRender(this, FRenderer->SharedContext(), ACount, APass);
}

void TKorvaneRenderPassController::BeginSetup(int ACount, TRenderPass* APass)
{
    FRecalcViewMatrix = true;
    TContext3D* shared = FRenderer ? FRenderer->SharedContext() : nullptr;
    if (!shared) return;
    FPrevViewMatrix = shared->CurrentCameraMatrix();
    FPrevProjMatrix = shared->CurrentProjectionMatrix();
    ApplyBackgroundColor();
    if (OnBeginSetup) OnBeginSetup(this, shared, ACount, APass);
}

void TKorvaneRenderPassController::EndSetup(int ACount, TRenderPass* APass)
{
    TContext3D* shared = FRenderer ? FRenderer->SharedContext() : nullptr;
    if (OnEndSetup && shared) OnEndSetup(this, shared, ACount, APass);
    FRecalcViewMatrix = true;
    if (shared) shared->SetCameraMatrix(FPrevViewMatrix);
}

void TKorvaneRenderPassController::RenderToContext(TKorvaneContext*, TTexture* ATexture, const TRect& ARect,
                                                   const TPoint&)
{
    TKorvaneContext* context = FRenderer ? FRenderer->KorvaneContext() : nullptr;
    if (!context) return;
    const bool designing = IsDesigning() || TKorvaneContext::IsInDesignTime();
    TTexture* destination = nullptr;
    switch (Method) {
    case TRenderPassMethod::RectToFBO: destination = ATexture; break;
    case TRenderPassMethod::RenderListToFBO:
        if (designing) return;
        throw Exception("TRenderPassMethod.RenderListToFBO failed - unsupported for rendering branch");
    default:
        if (designing) return;
        throw Exception("TRenderPassMethod.<unknown> failed - unsupported for rendering branch");
    }
    if (!destination) {
        if (designing) return;
        throw Exception("RenderToContext failed - invalid destination texture");
    }
    if (!context->BeginSceneRendering()) return;
    struct TEndScene {
        TKorvaneContext* Context;
        ~TEndScene() { Context->EndSceneRendering(); }
    } endScene{context};

    if (!FRectVBuffer || !FRectIBuffer || ARect.Width() != FRectLastSize.X || ARect.Height() != FRectLastSize.Y) {
        FRectVBuffer = MakeOwned<TVertexBuffer>(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::TexCoord0}, 4);
        const float l = float(ARect.Left), t = float(ARect.Top), r = float(ARect.Right), b = float(ARect.Bottom);
        const TPoint3D corners[4] = {{l, t, 0}, {r, t, 0}, {l, b, 0}, {r, b, 0}};
        const TPointF uvs[4] = {{0, 1}, {1, 1}, {0, 0}, {1, 0}};
        for (int i = 0; i < 4; ++i) {
            FRectVBuffer->SetVertices(i, corners[i]);
            FRectVBuffer->SetTexCoord0(i, uvs[i]);
        }
        FRectIBuffer = std::make_unique<TIndexBuffer>(0, TIndexFormat::UInt16);
        FRectLastSize = TPoint(ARect.Width(), ARect.Height());
    }

    // The context draws with the current pass's material; this one is only checked for presence.
    auto* material = dynamic_cast<TKorvaneRenderPassMaterial*>(TMaterialSource::ValidMaterial(FShader));
    if (!material) {
        if (designing) return;
        throw Exception("pass-controller: failed to render to context - missing material shader");
    }
    context->SetMatrix(TMatrix3D::Identity());
    context->SetContextStates({TContextState::cs2DScene, TContextState::csZTestOff, TContextState::csZWriteOff,
                               TContextState::csScissorOff, TContextState::csFrontFace});
    const TBlendSettings saved = context->GetBlendings();
    context->SetBlendings(Blendings);
    try {
        context->DirectDrawPrimitives(TKorvanePrimitivesKind::TriangleStrip, FRectVBuffer->Buffer(),
                                      FRectIBuffer->Buffer(), GetVertexDeclarations(FRectVBuffer->Format()),
                                      FRectVBuffer->VertexSize(), FRectVBuffer->Length(),
                                      int(FRectIBuffer->IndexSize()), FRectIBuffer->Length());
    } catch (...) {
        context->SetBlendings(saved);
        throw;
    }
    context->SetBlendings(saved);
    context->SetContextStates({TContextState::cs3DScene});
}

// ---------------------------------------------------------------------------
// Output, inputs, matrices

TMaterialSource* TKorvaneRenderPassController::Shader() const { return FShader; }

TTexture* TKorvaneRenderPassController::GetOutputTexture()
{
    if (!FViewport) return nullptr;
    TKorvaneTextureBitmap* bitmap = FBOTexture();
    TTexture* texture = bitmap ? bitmap->Texture() : nullptr;
    if (!texture) Log::d("<WARNING> %s - Output-Texture not assigned, maybe because Viewport not linked", ClassName());
    return texture;
}

TMatrix3D TKorvaneRenderPassController::GetTextureMatrix(TContext3D*, bool AUseBias) const
{
    return AUseBias ? FTextureMatrix * FBiasMatrix : FTextureMatrix;
}

void TKorvaneRenderPassController::SetInputPass(TKorvaneRenderPassController* APass)
{
    if (FShader) FShader->SetInputPass(APass);
}

TKorvaneRenderPassController* TKorvaneRenderPassController::GetInputPass() const
{
    return FShader ? FShader->InputPass() : nullptr;
}

TMatrix3D TKorvaneRenderPassController::GetCurrentModelViewProjectionMatrix()
{
    TContext3D* shared = FRenderer ? FRenderer->SharedContext() : nullptr;
    if (!shared) return TMatrix3D::Identity();
    // A screen rectangle is given in pixels: in the 2D state the screen
    // matrix stands in for the camera and the projection.
    if (shared->CurrentStates().Contains(TContextState::cs2DScene))
        return shared->CurrentMatrix() * shared->CurrentScreenMatrix();
    return shared->CurrentModelViewProjectionMatrix();
}

TMatrix3D TKorvaneRenderPassController::GetViewMatrix()
{
    return FRenderer ? GetViewMatrix(FRenderer->SharedContext()) : TMatrix3D::Identity();
}

TMatrix3D TKorvaneRenderPassController::GetViewMatrix(TContext3D* AContext)
{
    if (FRecalcViewMatrix) {
        TCamera* camera = FViewport ? FViewport->GetViewportCurrentCamera() : nullptr;
        TContext3D* shared = FRenderer ? FRenderer->SharedContext() : nullptr;
        if (camera) FViewMatrix = camera->CameraMatrix();
        else if (shared) FViewMatrix = shared->CurrentCameraMatrix();
        else if (AContext) FViewMatrix = AContext->CurrentCameraMatrix();
        else FViewMatrix = TMatrix3D::Identity();
        FRecalcViewMatrix = false;
    }
    return FViewMatrix;
}

TMatrix3D TKorvaneRenderPassController::GetProjectionMatrix()
{
    return FRenderer ? GetProjectionMatrix(FRenderer->SharedContext()) : TMatrix3D::Identity();
}

TMatrix3D TKorvaneRenderPassController::GetProjectionMatrix(TContext3D*)
{
    if (!FRecalcProjMatrix) return FProjMatrix;
    TKorvaneContext* shared = FRenderer ? FRenderer->KorvaneContext() : nullptr;
    if (OverwriteViewportSize) {
        TCamera* camera = FViewport ? FViewport->GetViewportCurrentCamera() : nullptr;
        const float fov = camera ? camera->AngleOfView() : 45.0f;
        const float aspect = FViewportSize.Y == 0 ? 1.0f : float(double(FViewportSize.X) / FViewportSize.Y);
        const float nearPlane = shared ? shared->NearPlane() : DefaultNearPlane;
        const float farPlane = shared ? shared->FarPlane() : DefaultFarPlane;
        FProjMatrix = TMatrix3D::CreatePerspectiveFovRH(float(double(fov) * Pi / 180.0), aspect, nearPlane, farPlane);
    } else if (FRenderer && FRenderer->SharedContext()) {
        FProjMatrix = FRenderer->SharedContext()->CurrentProjectionMatrix();
    } else {
        return FProjMatrix;
    }
    FRecalcProjMatrix = false;
    return FProjMatrix;
}

// ---------------------------------------------------------------------------
// Controls

void TKorvaneRenderPassController::CreateAllowedControls()
{
    if (!FAllowedControls) FAllowedControls = MakeOwned<TKorvaneManagedControls>(this, TKorvaneManagedControl::StaticClass());
}

void TKorvaneRenderPassController::CreateIgnoredControls()
{
    if (!FIgnoredControls) FIgnoredControls = MakeOwned<TKorvaneManagedControls>(this, TKorvaneManagedControl::StaticClass());
}

TKorvaneManagedControls* TKorvaneRenderPassController::AllowedControls()
{
    CreateAllowedControls();
    return FAllowedControls.get();
}

TKorvaneManagedControls* TKorvaneRenderPassController::IgnoredControls()
{
    CreateIgnoredControls();
    return FIgnoredControls.get();
}

void TKorvaneRenderPassController::ListControl(TKorvaneManagedControls* AList, TControl3D* ACtrl)
{
    if (!ACtrl || AList->Contains(ACtrl)) return;
    auto* item = static_cast<TKorvaneManagedControl*>(AList->Add());
    item->SetControl(ACtrl);
    item->SetDisplayName(ACtrl->Name());
    ACtrl->FreeNotification(this);
    if (TClass mesh = MeshClass(); mesh && ACtrl->InheritsFrom(mesh))
        for (TTreeObject* child : ACtrl->ChildList())
            if (child->InheritsFrom(mesh)) ListControl(AList, static_cast<TControl3D*>(child));
    for (int i = 0; i < ACtrl->ComponentCount(); ++i)
        if (auto* owned = dynamic_cast<TControl3D*>(ACtrl->Components(i))) ListControl(AList, owned);
}

void TKorvaneRenderPassController::AllowControl(TControl3D* ACtrl) { ListControl(AllowedControls(), ACtrl); }

void TKorvaneRenderPassController::IgnoreControl(TControl3D* ACtrl) { ListControl(IgnoredControls(), ACtrl); }

bool TKorvaneRenderPassController::IsControlIgnored(TControl3D* ACtrl)
{
    if (!ACtrl) return true;
    const bool ignored = FIgnoredControls && FIgnoredControls->Contains(ACtrl);
    if (FAllowedControls && FAllowedControls->Count() > 0) return !FAllowedControls->Contains(ACtrl) || ignored;
    return ignored;
}

// ---------------------------------------------------------------------------
// TKorvaneRenderPassMaterialSource

TKorvaneRenderPassMaterialSource::TKorvaneRenderPassMaterialSource(TKorvaneRenderPassController* AOwnerPass)
    : TMaterialSource(nullptr), FOwnerPass(AOwnerPass)
{
}

void TKorvaneRenderPassMaterialSource::SetInputPass(TKorvaneRenderPassController* AValue)
{
    if (AValue == FInputPass) return;
    if (FInputPass) FInputPass->RemoveFreeNotification(this);
    FInputPass = AValue;
    if (FInputPass) FInputPass->FreeNotification(this);
    DoPassesChanged();
}

void TKorvaneRenderPassMaterialSource::Notification(TComponent* AComponent, TOperation Operation)
{
    TMaterialSource::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent && AComponent == FInputPass) {
        FInputPass = nullptr;
        DoPassesChanged();
    }
}

// ---------------------------------------------------------------------------
// TKorvaneRenderPassMaterial

const char* const TKorvaneRenderPassMaterial::PassVertexBody = R"(
in vec3 a_Position;
in vec2 a_TexCoord0;
uniform mat4 _ModelViewProjMatrix;
out vec4 TEX0;

void main()
{
    TEX0 = vec4(a_TexCoord0, 0.0, 1.0);
    gl_Position = _ModelViewProjMatrix * vec4(a_Position, 1.0);
}
)";

const char* const TKorvaneRenderPassMaterial::PassVertexBodyWithPosition = R"(
in vec3 a_Position;
in vec2 a_TexCoord0;
uniform mat4 _ModelViewProjMatrix;
out vec4 v_Position;
out vec4 TEX0;

void main()
{
    v_Position = vec4(a_Position, 1.0);
    TEX0 = vec4(a_TexCoord0, 0.0, 1.0);
    gl_Position = _ModelViewProjMatrix * vec4(a_Position, 1.0);
}
)";

const char* const TKorvaneRenderPassMaterial::PassTextureHelpers = R"(
vec4 tex2D(sampler2D s, vec2 uv) { return texture(s, uv); }
vec4 tex2DProj(sampler2D s, vec4 uv) { return textureProj(s, uv); }
vec4 tex3D(sampler3D s, vec3 uv) { return texture(s, uv); }
vec4 texCube(samplerCube s, vec3 uv) { return texture(s, uv); }
)";

TKorvaneRenderPassMaterial::TKorvaneRenderPassMaterial(TKorvaneRenderPassMaterialSource* ASource) : FSource(ASource)
{
}

std::string TKorvaneRenderPassMaterial::PassShaderName(const std::string& AShaderName, const char* AExtension) const
{
    return AShaderName + "-" + std::to_string(reinterpret_cast<intptr_t>(this)) + AExtension;
}

namespace {
const char* const PassShaderHeader = "#version 430\n\n\n";
} // namespace

TContextShader* TKorvaneRenderPassMaterial::BuildPassPixelShader(const std::string& AShaderName,
                                                                 const std::string& ADeclarations,
                                                                 const std::string& AFunctions,
                                                                 const std::string& AMain,
                                                                 const std::vector<TContextShaderVariable>& AUniforms)
{
    std::string samplers;
    std::vector<TContextShaderVariable> pixelVariables;
    for (size_t i = 0; i < FTextures.size(); ++i) {
        samplers += "uniform sampler2D _" + FTextures[i].Name + ";\n";
        pixelVariables.push_back(
            TContextShaderVariable::Create(FTextures[i].Name, TContextShaderVariableKind::Texture, int(i), 0));
    }
    pixelVariables.insert(pixelVariables.end(), AUniforms.begin(), AUniforms.end());
    const std::string pixel = std::string(PassShaderHeader) + "in vec4 TEX0;\n" + samplers + ADeclarations +
                              "layout(location = 0) out vec4 o_FragColor;\n" + PassTextureHelpers + AFunctions +
                              AMain;
    return TShaderManager::RegisterShaderFromData(PassShaderName(AShaderName, ".fps"), TContextShaderKind::PixelShader,
                                                  "",
                                                  {TContextShaderSource(TContextShaderArch::GLSL, pixel, pixelVariables)});
}

void TKorvaneRenderPassMaterial::BuildPassVertexShader(const std::string& AShaderName, const char* AVertexBody)
{
    const std::string vertex = std::string(PassShaderHeader) + AVertexBody;
    FVertexShader = TShaderManager::RegisterShaderFromData(
        PassShaderName(AShaderName, ".fvs"), TContextShaderKind::VertexShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL, vertex,
                              {TContextShaderVariable::Create("ModelViewProjMatrix",
                                                              TContextShaderVariableKind::Matrix, 0, 4)})});
}

void TKorvaneRenderPassMaterial::BuildPassShaders(const std::string& AShaderName, const std::string& ADeclarations,
                                                  const std::string& AFunctions, const std::string& AMain,
                                                  const char* AVertexBody)
{
    BuildPassVertexShader(AShaderName, AVertexBody);
    FPixelShader = BuildPassPixelShader(AShaderName, ADeclarations, AFunctions, AMain);
}

TTexture* TKorvaneRenderPassMaterial::GetPreviousRenderTexture(TContext3D* AContext)
{
    TKorvaneRenderPassController* pass = FSource ? FSource->OwnerPass() : nullptr;
    if (pass && pass->Viewport()) {
        TRenderer* renderer = pass->PreviousRenderer();
        if (!renderer) renderer = pass->Viewport()->GetMainRenderer();
        if (renderer) {
            TRenderer* source = renderer->AttachedRenderer() ? renderer->AttachedRenderer() : renderer;
            return source->CompositeTexture() ? source->CompositeTexture()->Texture() : nullptr;
        }
    }
    auto* context = dynamic_cast<TKorvaneContext*>(AContext);
    return context ? context->GetCurrentTexture() : nullptr;
}

void TKorvaneRenderPassMaterial::DoApply(TContext3D* AContext)
{
    TCustomMaterial::DoApply(AContext);
    ApplyPassVariables(AContext);
}

void TKorvaneRenderPassMaterial::ApplyPassVariables(TContext3D* AContext)
{
    auto* context = dynamic_cast<TKorvaneContext*>(AContext);
    if (!context) return;
    TKorvaneRenderPassController* pass = FSource ? FSource->OwnerPass() : nullptr;
    context->SetShaderVariable("ModelViewProjMatrix",
                               pass ? pass->GetCurrentModelViewProjectionMatrix() : TMatrix3D::Identity(), true);
    for (const TPassTexture& texture : FTextures) context->SetShaderVariable(texture.Name, texture.Texture);
}

// ---------------------------------------------------------------------------
// Start-up

namespace units {

void ControllerInitialize()
{
    RegisterClasses({TKorvaneController::StaticClass(), TKorvaneRenderPassController::StaticClass()});
}

void ControllerFinalize()
{
    UnRegisterClass(TKorvaneRenderPassController::StaticClass());
    UnRegisterClass(TKorvaneController::StaticClass());
}

} // namespace units

} // namespace korvane
