#include "Korvane.Viewport.h"

#include <algorithm>
#include <cmath>

#include "Korvane.Camera.h"
#include "Korvane.Context.GLES.Windows.h"
#include "Korvane.Context.h"
#include "Korvane.Control.h"
#include "Korvane.Controller.h"
#include "Korvane.Light.h"
#include "Korvane.Mesh.h"
#include "Korvane.Utils.Timer.h"
#include "Platform.Forms.h"
#include "Platform.Log.h"

namespace korvane {

TClass TKorvaneViewport::StaticClass()
{
    using T = TKorvaneViewport;
    // The settings a form resource streams (a viewport is set up in its form).
    static const TClassInfo<T> info("Korvane.Viewport", [](auto& c) {
        c.Property("RendererType", &T::RendererType, &T::SetRendererType, TValue::From(TRendererType::ForwardRenderer));
        c.Property("ManualRendering", &T::ManualRendering, &T::SetManualRendering, TValue::From(false));
        c.Property("UseFixedFrameRate", &T::UseFixedFrameRate, &T::SetUseFixedFrameRate);
        c.Property("FixedFrameRate", &T::FixedFrameRate, &T::SetFixedFrameRate, TValue::From(int32_t(60)));
        c.Property("FrustumCulling", &T::FrustumCulling, &T::SetFrustumCulling, TValue::From(true));
        c.Property("HighRes", &T::HighRes, &T::SetHighRes, TValue::From(false));
        c.Property("VSync", &T::VSync, &T::SetVSync, TValue::From(false));
        c.Property("NearPlane", &T::NearPlane, &T::SetNearPlane);
        c.Property("FarPlane", &T::FarPlane, &T::SetFarPlane);
        c.Property("Fog", &T::GetFog, &T::SetFog, TValue::From(false));
        c.Property("FogDensity", &T::GetFogDensity, &T::SetFogDensity);
        c.Property("FogStart", &T::GetFogStart, &T::SetFogStart);
        c.Property("FogEnd", &T::GetFogEnd, &T::SetFogEnd);
        c.Property("FogColor", &T::GetFogColor, &T::SetFogColor);
        c.Property("OpaqueSaturation", &T::OpaqueSaturation, &T::SetOpaqueSaturation);
        c.Property("TranslucentSaturation", &T::TranslucentSaturation, &T::SetTranslucentSaturation);
        c.Property("CompositeSaturation", &T::CompositeSaturation, &T::SetCompositeSaturation);
        c.Property("EmissiveBlur", &T::GetEmissiveBlur, &T::SetEmissiveBlur);
        c.Property("GlobalIllumDetail", &T::GetGlobalIllumDetail, &T::SetGlobalIllumDetail);
        c.Property("GlobalIllumSoftness", &T::GetGlobalIllumSoftness, &T::SetGlobalIllumSoftness);
        c.Property("ShadowStrength", &T::GetShadowStrength, &T::SetShadowStrength);
        c.Property("ReflectionStrength", &T::GetReflectionStrength, &T::SetReflectionStrength);
        c.Property("FXAA", &T::GetFXAA, &T::SetFXAA);
        c.Property("DiagnosticsActive", &T::DiagnosticsActive, &T::SetDiagnosticsActive, TValue::From(false));
        c.Property("Camera", &T::Camera, &T::SetCamera);
        c.Property("Color", &T::Color, &T::SetColor);
        c.Property("Multisample", &T::Multisample, &T::SetMultisample);
        c.Property("UsingDesignCamera", &T::UsingDesignCamera, &T::SetUsingDesignCamera);
    });
    return &info;
}

namespace {

constexpr int DesignTag = 0xFFFE;

// Sky boxes are found by class name: their unit sits above this one.
bool IsSkyBox(const TObject* AObject)
{
    for (TClass c = AObject->ClassType(); c; c = c->ClassParent())
        if (c->ClassName() == "TKorvaneSkyBox") return true;
    return false;
}

bool BoxesIntersect(const TBoundingBox& A, const TBoundingBox& B)
{
    return A.Left <= B.Right && B.Left <= A.Right && A.Top <= B.Bottom && B.Top <= A.Bottom && A.Near <= B.Far &&
           B.Near <= A.Far;
}

// Paints nothing: for painting the control when no window shows it.
class TNullPainter : public TControlPainter {
public:
    void FillRect(const TRectF&, TAlphaColor, float) override {}
    void FrameRect(const TRectF&, TAlphaColor, float) override {}
    void DrawText(const TRectF&, const std::string&, TAlphaColor, TTextAlign, TTextAlign) override {}
    void DrawBitmap(const TRectF&, const TBitmap&, float) override {}
    void PushClip(const TRectF&) override {}
    void PopClip() override {}
};

// Runs a step on every exit of a scope.
template <class F>
class TFinally {
public:
    explicit TFinally(F AStep) : FStep(std::move(AStep)) {}
    ~TFinally() { FStep(); }
    TFinally(const TFinally&) = delete;
    TFinally& operator=(const TFinally&) = delete;

private:
    F FStep;
};

class TLockScope {
public:
    explicit TLockScope(TKorvaneViewport& AViewport) : FViewport(AViewport) { FViewport.Lock(); }
    ~TLockScope() { FViewport.Unlock(); }
    TLockScope(const TLockScope&) = delete;
    TLockScope& operator=(const TLockScope&) = delete;

private:
    TKorvaneViewport& FViewport;
};

} // namespace

int TKorvaneViewport::MaxBitmapSize = 8192;
std::function<int32_t()> TKorvaneViewport::QueryDisplayRefreshRate = [] { return int32_t(60); };

// ---------------------------------------------------------------- diagnostics

TRenderingDiagnostics TRenderingDiagnostics::Create(bool AEnabled)
{
    TRenderingDiagnostics d;
    d.Enabled = AEnabled;
    d.AverageFrameTimeClip = 30;
    d.AverageDrawCycleClip = 1000;
    return d;
}

// ---------------------------------------------------------------- rendering helper

bool TKorvaneRenderingHelper::IsBoundless(TControl3D* ACtrl)
{
    return dynamic_cast<TLight*>(ACtrl) || dynamic_cast<TDummy*>(ACtrl) || dynamic_cast<TCamera*>(ACtrl) ||
           IsSkyBox(ACtrl);
}

TBoundingBox TKorvaneRenderingHelper::WorldBox(TControl3D* ACtrl)
{
    if (auto* k = dynamic_cast<TKorvaneControl*>(ACtrl)) return k->GetAbsoluteBoundingBox();
    const TBoundingBox b = ACtrl->SizeBox();
    const TMatrix3D& m = ACtrl->AbsoluteMatrix();
    TPoint3D corners[8];
    for (int i = 0; i < 8; ++i)
        corners[i] = TPoint3D(i & 1 ? b.Right : b.Left, i & 2 ? b.Bottom : b.Top, i & 4 ? b.Far : b.Near) * m;
    return TBoundingBox::Create(std::span<const TPoint3D>(corners, 8));
}

static bool PassesVisibility(TControl3D* ACtrl, TComponentState AComponentState)
{
    if (ACtrl->Visible()) return true;
    return AComponentState.Contains(csDesigning) && !ACtrl->Locked();
}

bool TKorvaneRenderingHelper::Renderable(TControl3D* ACtrl, const TKorvaneFrustum& AFrustum,
                                         TComponentState AComponentState, TBoundingBox& ASceneBounds,
                                         bool AFrustumCulling, bool ACheckVisibility)
{
    if (!ACtrl) return false;
    if (ACheckVisibility && !PassesVisibility(ACtrl, AComponentState)) return false;
    if (IsBoundless(ACtrl)) return true;
    const TBoundingBox box = WorldBox(ACtrl);
    if (auto* k = dynamic_cast<TKorvaneControl*>(ACtrl)) {
        if (AComponentState.Contains(csDesigning) || !AFrustumCulling || !k->FrustumCullingCheck()) {
            ASceneBounds = ASceneBounds.Union(box);
            return true;
        }
    }
    if (!AFrustum.IsAABBInFrustum(box)) return false;
    ASceneBounds = ASceneBounds.Union(box);
    return true;
}

void TKorvaneRenderingHelper::UpdateSceneBounds(TControl3D* ACtrl, TComponentState AComponentState,
                                                TBoundingBox& ASceneBounds)
{
    if (!ACtrl || !PassesVisibility(ACtrl, AComponentState) || IsBoundless(ACtrl)) return;
    ASceneBounds = ASceneBounds.Union(WorldBox(ACtrl));
}

// ---------------------------------------------------------------- construction

TComponent* TKorvaneViewport::CheckOwner(TComponent* AOwner)
{
    RegisterOpenGLWindowsContext();
    if (!AOwner) throw Exception("owner component not set");
    return AOwner;
}

TKorvaneViewport::TKorvaneViewport(TComponent* AOwner)
    : TControl(CheckOwner(AOwner)), FClock(GetDefaultClock()), FNearPlane(DefaultNearPlane),
      FFarPlane(DefaultFarPlane)
{
    DesignTimeMode = Designing();
    FDiagnostics = TRenderingDiagnostics::Create(false);
    FDiagnostics.FrameTimeWatch = TStopwatch(FClock);
    FDiagnostics.DrawCycleWatch = TStopwatch(FClock);
    FFog = TKorvaneFogSettings::Create(false, 2, 0.001f, 100, 500);
    FSceneBounds = TBoundingBox(0, 0, 0, 128, 128, 128);

    FDesignPosition = MakeOwned<TPosition3D>(TPoint3D(0, 0, 0));
    FDesignPosition->OnChange = [this](TObject* S) { DesignPositionChanged(S); };
    FDesignRotationAngle = MakeOwned<TPosition3D>(TPoint3D(0, 0, 0));
    FDesignRotationAngle->OnChange = [this](TObject* S) { DesignRotationChanged(S); };
    FDesignRotationAngle->OnChangeX = [this](TObject*) { DesignRotationComponentChanged(0); };
    FDesignRotationAngle->OnChangeY = [this](TObject*) { DesignRotationComponentChanged(1); };
    FDesignRotationAngle->OnChangeZ = [this](TObject*) { DesignRotationComponentChanged(2); };

    // The design camera rides on an orbit controller that belongs to the viewport.
    FDesignCameraX = new TKorvaneSmoothCameraController(this);
    FDesignCameraX->SetName("DesignCameraTarget");
    FDesignCameraX->SetTag(DesignTag);
    FDesignCameraX->SetParent(this);
    FDesignCameraX->Position().SetPoint(FDesignPosition->Point());
    FDesignCameraX->RotationAngle().SetPoint(FDesignRotationAngle->Point());
    FDesignCameraX->SetEnabled(false);
    FDesignCamera = new TCamera(FDesignCameraX);
    FDesignCamera->SetName("DesignCamera");
    FDesignCamera->SetTag(DesignTag);
    FDesignCamera->SetParent(FDesignCameraX);
    FDesignCamera->SetTarget(FDesignCameraX);
    FDesignCameraX->SetCamera(FDesignCamera);
    FDesignCameraX->SetLocked(true);
    FDesignCamera->SetLocked(true);
    // Helpers of the designer: picking at run time never answers them.
    FDesignCameraX->SetHitTest(false);
    FDesignCamera->SetHitTest(false);

    if (Designing()) {
        FDesignTimer = new TTimer(this);
        FDesignTimer->SetInterval(250);
        FDesignTimer->OnTimer = [this](TObject*) {
            if (Visible() && ParentedVisible()) Invalidate();
        };
        FDesignTimer->SetEnabled(true);
    }

    FScaleChangedId = TMessageManager::DefaultManager().SubscribeToMessage<TScaleChangedMessage>(
        [this](TObject*, const TMessageBase&) { ForceResize(); });

    SetAlign(TAlignLayout::Client);
    if (auto* parent = dynamic_cast<TControl*>(AOwner)) SetParent(parent);

    FDepthStencil = true;
    SetColor(0xFF000000);
    FInvalidated = false;
    FUseFixedFrameRate = true;
    SetFixedFrameRate(60);

    FFixedInterval.reset(new TKorvaneTimer());
    FFixedInterval->SetInterval(FFrameRateStep);
    FFixedInterval->SetOnTimer([this](TObject* S) { FixedIntervalTick(S); });

    FDiagnostics.DisplayRefreshRate = QueryDisplayRefreshRate ? QueryDisplayRefreshRate() : 0;
    FConstructed = true;
    AttachDesignController();
    // Laid out by its parent before it could take a size: the first resize is now.
    if (ParentControl()) Resize();
    Invalidate();
}

TKorvaneViewport::~TKorvaneViewport() = default;

void TKorvaneViewport::AttachDesignController()
{
    if (!FDesignCameraX) return;
    FDesignCameraX->SetViewport(FUsingDesignCamera ? this : nullptr);
    FDesignCameraX->SetEnabled(true);
}

void TKorvaneViewport::BeforeDestruction()
{
    // The timer thread goes first, joined: a tick it still delivers finds the
    // viewport destroying and returns.
    if (FFixedInterval) {
        FFixedInterval->Terminate();
        if (FFixedInterval->Started()) FFixedInterval->WaitFor();
        FFixedInterval.reset();
    }
    if (FDesignCamera) {
        TCamera* camera = FDesignCamera;
        FDesignCamera = nullptr;
        camera->Free();
    }
    if (FDesignCameraX) {
        TKorvaneSmoothCameraController* ctrl = FDesignCameraX;
        FDesignCameraX = nullptr;
        ctrl->Free();
    }
    FRenderPasses.clear();
    TMessageManager::DefaultManager().Unsubscribe(FScaleChangedId);
    DeleteChildren();
    FCurrentRenderer = nullptr;
    FRenderer.reset();
    FBitmap.reset();
    FLights.clear();
    FRenderingList.clear();
    TControl::BeforeDestruction();
}

// ---------------------------------------------------------------- properties

void TKorvaneViewport::SetRendererType(TRendererType AValue)
{
    FRendererType = AValue;
    RecreateRenderer();
}

void TKorvaneViewport::SetUseFixedFrameRate(bool AValue)
{
    FUseFixedFrameRate = AValue;
    if (!Designing() && FFixedInterval) FFixedInterval->SetActive(AValue);
}

void TKorvaneViewport::SetFixedFrameRate(int32_t AValue)
{
    FFixedFrameRate = AValue;
    UpdateFrameRateStep();
}

void TKorvaneViewport::UpdateFrameRateStep()
{
    int32_t rate = FFixedFrameRate;
    if (!Designing() && FVSync) rate = std::min(FDiagnostics.DisplayRefreshRate, FFixedFrameRate);
    if (rate > 0) FFrameRateStep = 1000 / rate;
    else FFrameRateStep = FFixedFrameRate > 0 ? 1000 / FFixedFrameRate : 1000;
    if (FFixedInterval) FFixedInterval->SetInterval(FFrameRateStep);
}

void TKorvaneViewport::SetHighRes(bool AValue)
{
    FHighRes = AValue;
    Resize();
}

void TKorvaneViewport::SetVSync(bool AValue)
{
    FVSync = AValue;
    UpdateFrameRateStep();
}

void TKorvaneViewport::SetNearPlane(float AValue)
{
    FNearPlane = AValue;
    UpdateRenderSettings();
}

void TKorvaneViewport::SetFarPlane(float AValue)
{
    FFarPlane = AValue;
    UpdateRenderSettings();
}

void TKorvaneViewport::SetFog(bool AValue)
{
    FFog.Enabled = AValue;
    UpdateRenderSettings();
}

void TKorvaneViewport::SetFogMode(uint8_t AValue)
{
    FFog.Mode = AValue;
    UpdateRenderSettings();
}

void TKorvaneViewport::SetFogDensity(float AValue)
{
    FFog.Density = AValue;
    UpdateRenderSettings();
}

void TKorvaneViewport::SetFogStart(float AValue)
{
    FFog.FogStart = AValue;
    UpdateRenderSettings();
}

void TKorvaneViewport::SetFogEnd(float AValue)
{
    FFog.FogEnd = AValue;
    UpdateRenderSettings();
}

TAlphaColor TKorvaneViewport::GetFogColor() const { return FFog.Color.ToAlphaColor(); }

void TKorvaneViewport::SetFogColor(TAlphaColor AValue) { SetFogColorF(TAlphaColorF::Create(AValue)); }

void TKorvaneViewport::SetFogColorF(const TAlphaColorF& AValue)
{
    FFog.Color = AValue;
    UpdateRenderSettings();
}

TCompositeRenderer* TKorvaneViewport::CompositeRenderer() const
{
    return dynamic_cast<TCompositeRenderer*>(FRenderer.get());
}

void TKorvaneViewport::SetSaturation(const TPoint3D& AValue)
{
    FSaturation = AValue;
    if (auto* r = CompositeRenderer()) r->SetSaturation(FSaturation);
}

float TKorvaneViewport::GetSaturationComponent(int AIndex) const
{
    switch (AIndex) {
    case 0: return FSaturation.X;
    case 1: return FSaturation.Y;
    case 2: return FSaturation.Z;
    default: return 0;
    }
}

void TKorvaneViewport::SetSaturationComponent(int AIndex, float AValue)
{
    switch (AIndex) {
    case 0: FSaturation.X = AValue; break;
    case 1: FSaturation.Y = AValue; break;
    case 2: FSaturation.Z = AValue; break;
    default: return;
    }
    if (auto* r = CompositeRenderer()) r->SetSaturation(FSaturation);
}

void TKorvaneViewport::SetEmissiveBlur(int32_t AValue)
{
    FEmissiveBlur = std::clamp(AValue, 0, 15);
    if (auto* r = CompositeRenderer()) r->SetEmissiveBlur(FEmissiveBlur);
}

void TKorvaneViewport::SetGlobalIllumDetail(int32_t AValue)
{
    FGlobalIllumDetail = AValue;
    if (auto* r = CompositeRenderer()) r->SetGlobalIllumDetail(FGlobalIllumDetail);
}

void TKorvaneViewport::SetGlobalIllumSoftness(float AValue)
{
    FGlobalIllumSoftness = std::clamp(AValue, 0.0f, 5.0f);
    if (auto* r = CompositeRenderer()) r->SetGlobalIllumSoftness(FGlobalIllumSoftness);
}

void TKorvaneViewport::SetShadowStrength(float AValue)
{
    FShadowStrength = std::clamp(AValue, 0.0f, 10.0f);
    if (auto* r = CompositeRenderer()) r->SetShadowStrength(FShadowStrength);
}

void TKorvaneViewport::SetReflectionStrength(float AValue)
{
    FReflectionStrength = std::clamp(AValue, 0.0f, 10.0f);
    if (auto* r = CompositeRenderer()) r->SetReflectionStrength(FReflectionStrength);
}

void TKorvaneViewport::SetFXAA(int32_t AValue)
{
    FXAASteps = std::clamp(AValue, 0, 8);
    if (auto* r = CompositeRenderer()) r->SetFXAA(FXAASteps);
}

void TKorvaneViewport::PassCompositeSettings()
{
    auto* r = CompositeRenderer();
    if (!r) return;
    r->SetSaturation(FSaturation);
    r->SetEmissiveBlur(FEmissiveBlur);
    r->SetGlobalIllumDetail(FGlobalIllumDetail);
    r->SetGlobalIllumSoftness(FGlobalIllumSoftness);
    r->SetShadowStrength(FShadowStrength);
    r->SetReflectionStrength(FReflectionStrength);
    r->SetFXAA(FXAASteps);
}

void TKorvaneViewport::SetCamera(TCamera* AValue)
{
    if (FCamera == AValue) return;
    if (FCamera) FCamera->RemoveFreeNotification(this);
    // The design camera is the viewport's own; it is never "the" camera.
    FCamera = AValue == FDesignCamera ? nullptr : AValue;
    if (FCamera) FCamera->FreeNotification(this);
    FUpdateFrustum = true;
    if (Context() && !FUsingDesignCamera && !Designing()) {
        Repaint();
        ForceUpdateEffects();
    }
}

void TKorvaneViewport::SetColor(TAlphaColor AValue)
{
    FFill = AValue;
    if (FRenderer) FRenderer->SetColor(TAlphaColorF::Create(AValue));
    Repaint();
}

void TKorvaneViewport::SetUsingDesignCamera(bool AValue)
{
    if (FUsingDesignCamera == AValue) return;
    FUsingDesignCamera = AValue;
    if (FDesignCameraX) {
        FDesignCameraX->SetViewport(AValue ? this : nullptr);
        FDesignCameraX->SetEnabled(AValue);
    }
    if (Context()) {
        Repaint();
        ForceUpdateEffects();
    }
}

TContext3D* TKorvaneViewport::Context() const
{
    TRenderer* r = FCurrentRenderer ? FCurrentRenderer : FRenderer.get();
    return r ? r->SharedContext() : nullptr;
}

TCamera* TKorvaneViewport::CurrentCamera() const
{
    if (!FCamera || FUsingDesignCamera || Designing()) return FDesignCamera;
    return FCamera;
}

double TKorvaneViewport::FPS() const
{
    if (!Context()) return 0;
    if (FUseFixedFrameRate && FFixedInterval) return FFixedInterval->FPS();
    return FFPS;
}

float TKorvaneViewport::ViewportScale() const
{
    if (FHighRes)
        if (TForm* form = Root()) (void)form; // forms have no scale of their own: 1
    return 1.0f;
}

bool TKorvaneViewport::Smooth() const
{
    auto* ctx = dynamic_cast<TKorvaneContext*>(Context());
    if (!ctx || ctx->SmoothTargets().IsEmpty()) return false;
    return true;
}

void TKorvaneViewport::SetSmooth(bool AValue)
{
    auto* ctx = dynamic_cast<TKorvaneContext*>(Context());
    if (!ctx) return;
    TSmoothSetting setting = TSmoothSetting::Create();
    if (!AValue) setting.Targets = {};
    ctx->SetSmoothMode(setting);
}

TRenderer* TKorvaneViewport::CurrentRenderer()
{
    if (!FCurrentRenderer) FCurrentRenderer = FRenderer.get();
    return FCurrentRenderer;
}

void TKorvaneViewport::SetCurrentRenderer(TRenderer* AValue)
{
    if (FCurrentRenderer == AValue) return;
    FCurrentRenderer = AValue;
    if (AValue && AValue == FRenderer.get()) UpdateRendererLights();
    UpdateRenderSettings();
}

// ---------------------------------------------------------------- settings

void TKorvaneViewport::ApplyRenderSettings(TContext3D* AContext)
{
    auto* ctx = dynamic_cast<TKorvaneContext*>(AContext);
    if (!ctx) return;
    ctx->SetNearPlane(FNearPlane);
    ctx->SetFarPlane(FFarPlane);
    ctx->SetFog(FFog);
}

void TKorvaneViewport::UpdateRenderSettings()
{
    TContext3D* ctx = Context();
    ApplyRenderSettings(ctx);
    if (FRenderer && FRenderer->SharedContext() != ctx) ApplyRenderSettings(FRenderer->SharedContext());
}

void TKorvaneViewport::UpdateRendererSettings()
{
    if (FRenderer) ApplyRenderSettings(FRenderer->SharedContext());
}

void TKorvaneViewport::UpdateRendererLights()
{
    if (!FRenderer) return;
    ApplyLightSettings(FRenderer->SharedContext());
}

void TKorvaneViewport::ApplyLightSettings(TContext3D* AContext)
{
    auto* ctx = dynamic_cast<TKorvaneContext*>(AContext);
    if (!ctx) return;
    TLockScope lock(*this);
    ctx->ClearLights();
    for (TLight* light : FLights) {
        if (auto* k = dynamic_cast<TKorvaneLight*>(light)) ctx->AddLight(k->LightDescriptionEx());
        else ctx->AddLight(light->LightDescription());
    }
}

void TKorvaneViewport::UpdateDisplayRefreshRate()
{
    FDiagnostics.DisplayRefreshRate = QueryDisplayRefreshRate ? QueryDisplayRefreshRate() : 0;
}

// ---------------------------------------------------------------- lights

void TKorvaneViewport::AddLight(TLight* ALight)
{
    if (!ALight) return;
    TLockScope lock(*this);
    // Listed twice, a light would light the scene twice.
    if (std::find(FLights.begin(), FLights.end(), ALight) != FLights.end()) return;
    FLights.push_back(ALight);
    ALight->FreeNotification(this);
}

void TKorvaneViewport::RemoveLight(TLight* ALight)
{
    TLockScope lock(*this);
    auto it = std::find(FLights.begin(), FLights.end(), ALight);
    if (it != FLights.end()) FLights.erase(it);
}

void TKorvaneViewport::NeedRender()
{
    // A moved or changed object only needs the next frame, which renders the
    // scene as it is by then however many changes came before it. Resizing here
    // rebuilt every render target and dropped the finished frame on each change
    // (an animated scene left the window without a picture); painting the form
    // here painted the whole window once per change, so a scene changed every
    // 33 ms kept the main thread painting and starved the frame timer.
    ++FRenderRequests;
    // The running frame timer renders and paints on its next tick.
    if (FrameTimerRenders()) return;
    // Otherwise the next pass of the message loop paints the form, and that
    // paint renders the frame.
    Invalidate();
}

bool TKorvaneViewport::FrameTimerRenders() const
{
    return FUseFixedFrameRate && !Designing() && FFixedInterval && FFixedInterval->Active();
}

// ---------------------------------------------------------------- frame loop

double TKorvaneViewport::NowSeconds() const { return double(FClock->NowTicks()) / TClock::TicksPerSecond; }

bool TKorvaneViewport::ParentedVisible() const
{
    for (TControl* c = ParentControl(); c; c = c->ParentControl())
        if (!c->Visible()) return false;
    return true;
}

void TKorvaneViewport::Lock() { FLock.Acquire(); }

void TKorvaneViewport::Unlock() { FLock.Release(); }

void TKorvaneViewport::Invalidate()
{
    FInvalidated = true;
    TControl::Invalidate();
}

void TKorvaneViewport::ForceResize() { Resize(); }

void TKorvaneViewport::ForceUpdateEffects() { Resize(); }

void TKorvaneViewport::BeginUpdate() { TControl::BeginUpdate(); }

void TKorvaneViewport::EndUpdate()
{
    TControl::EndUpdate();
    if (auto* cam = dynamic_cast<TKorvaneCamera*>(FCamera); cam && cam->UpdateNeeded()) cam->Update();
    Invalidate();
}

void TKorvaneViewport::EndUpdateWithoutInvalidate() { TControl::EndUpdate(); }

void TKorvaneViewport::RenderScene(PRenderContext ARenderContext)
{
    TRenderer* r = CurrentRenderer();
    if (!r) return;
    if (r->BeginOpaqueRendering()) {
        TFinally end([r] { r->EndOpaqueRendering(); });
        RenderRenderListByMode(true);
    }
    if (r->BeginTranslucentRendering()) {
        TFinally end([r] { r->EndTranslucentRendering(); });
        RenderRenderListByMode(false);
    }
    if (auto* composite = dynamic_cast<TCompositeRenderer*>(r)) composite->Composite(ARenderContext);
}

void TKorvaneViewport::RenderFrame()
{
    TContext3D* context = Context();
    if (!context) {
        Log::d("rendering aborted - context not assigned");
        return;
    }
    if (FLockRendering) return;
    TLockScope lock(*this);
    if (FSceneCount <= 0) return;
    auto* ctx = dynamic_cast<TKorvaneContext*>(context);
    if (!ctx) return;
    if (!ctx->RenderPasses() || ctx->RenderPasses()->Count() == 0) UpdateRenderPasses();

    const TBlendSetting blending = ctx->GlobalBlending();
    {
        TFinally restore([ctx, &blending] { ctx->SetGlobalBlendingValue(blending); });
        const double start = NowSeconds();
        ApplyLightSettings(ctx);
        ctx->ResetRenderPasses();
        TKorvaneContext::ResetDrawCallDiagnostics();

        TRenderContext renderContext = TRenderContext::Create(
            ctx, this, [this](PRenderContext R) { RenderScene(R); },
            [this](PRenderContext R) { RenderRenderList(R); });

        CollectRenderingList();
        TCamera* camera = CurrentCamera();
        const TMatrix3D cameraMatrix = camera ? camera->CameraMatrix() : TMatrix3D::Identity();
        const float angle = camera ? camera->AngleOfView() : 45.0f;
        ctx->SetOriginalCameraMatrix(cameraMatrix);
        ctx->PreProcessing(&renderContext);

        SetCurrentRenderer(FRenderer.get());
        FRenderer->BeginMainRenderPass(cameraMatrix, angle);
        {
            TFinally end([this] { FRenderer->EndMainRenderPass(); });
            RenderScene(&renderContext);
        }
        ctx->PostProcessing(&renderContext);
        FRenderTime += NowSeconds() - start;
        ++FRenderCycles;
    }

    if (FRenderTime >= 0.05) {
        FFPS = FRenderCycles / FRenderTime;
        if (FDiagnostics.Enabled) {
            FDiagnostics.PaintingTime = FRenderTime;
            FDiagnostics.PaintingCycles = FRenderCycles;
            FDiagnostics.PaintingFPS = FFPS;
            FDiagnostics.DrawCalls = ContextDrawCalls.load();
            FDiagnostics.DrawInstances = ContextDrawInstances.load();
            FDiagnostics.TotalVertexCount = ContextDrawVertices.load();
            FDiagnostics.TotalIndexCount = ContextDrawIndices.load();
        }
        FRenderCycles = 0;
        FRenderTime = 0;
    }
    CopyResultToBitmap();
}

void TKorvaneViewport::CopyResultToBitmap()
{
    TRenderer* r = CurrentRenderer();
    if (!r || !FBitmap) return;
    TContext3D* source = r->SharedContext();
    if (TRenderer* attached = r->AttachedRenderer()) {
        source = attached->SharedContext();
        r->SetAttachedRenderer(nullptr);
    }
    if (!source) return;
    const int w = std::min(FBitmap->Width(), source->Width());
    const int h = std::min(FBitmap->Height(), source->Height());
    if (w > 0 && h > 0) source->CopyToBitmap(FBitmap.get(), TRect(0, 0, w, h));
}

void TKorvaneViewport::Paint(TControlPainter& APainter, const TRectF& ARect)
{
    if (!Visible() || !ParentedVisible() || FDrawing) return;
    if (!dynamic_cast<TKorvaneContext*>(Context())) return;
    if (!FRenderer || !FRenderer->SharedContext()) return;
    ++FSceneCount;
    TFinally endScene([this] { --FSceneCount; });
    if (FDiagnostics.Enabled) FDiagnostics.DrawCycleWatch = TStopwatch::StartNew(FClock);

    if (FUseFixedFrameRate && !Designing()) {
        if (FFixedInterval && !FFixedInterval->Active()) FFixedInterval->SetActive(true);
        // A paint while a tick runs never renders a second frame, but it draws
        // the last finished one: the tick paints the window at once after its
        // frame, and a paint that returned here left the viewport's part of
        // the window empty (only a paint outside the ticks showed the frame).
        if (FFixedRendering.load() > 0 || (FFixedInterval && FFixedInterval->Active())) {
            DrawResult(APainter, ARect);
            return;
        }
    }
    if (Designing()) APainter.FrameRect(ARect, 0xA0909090, 1);
    else if (FManualRendering && !FDoManualRender) return;

    if (FDrawing || FLockRendering) return;
    FDrawing = true;
    {
        TFinally clear([this] { FDrawing = false; });
        RenderFrame();
    }
    DrawResult(APainter, ARect);
}

void TKorvaneViewport::DrawResult(TControlPainter& APainter, const TRectF& ARect)
{
    if (FBitmap) APainter.DrawBitmap(ARect, *FBitmap, Opacity());
    if (FEditMode) PaintEditModeOverlay(APainter, ARect);
    PaintDiagnostics(APainter, ARect);
}

void TKorvaneViewport::PaintEditModeOverlay(TControlPainter& APainter, const TRectF& ARect)
{
    if (!FEditMode) return;
    const TRectF frame(ARect.Left + 1.5f, ARect.Top + 1.5f, ARect.Right - 1.5f, ARect.Bottom - 1.5f);
    APainter.FrameRect(frame, 0xFFFFFF00, 3);
    const TPoint3D pos = FDesignCamera ? FDesignCamera->AbsolutePosition() : TPoint3D();
    const TPoint3D rot = FDesignCameraX ? FDesignCameraX->RotationAngle().Point() : TPoint3D();
    const std::string text = Format("Pos=(%n, %n, %n), Rotation=(%n, %n, %n)", pos.X, pos.Y, pos.Z, rot.X, rot.Y, rot.Z);
    APainter.DrawText(ARect, text, 0x80FFFF00, TTextAlign::Leading, TTextAlign::Center);
}

void TKorvaneViewport::PaintDiagnostics(TControlPainter& APainter, const TRectF& ARect)
{
    if (!FDiagnostics.Enabled) return;
    TRenderingDiagnostics& d = FDiagnostics;
    ++d.DrawCycles;
    ++d.MeasureDrawCycles;
    const int64_t ms = d.DrawCycleWatch.ElapsedMilliseconds();
    const int64_t ticks = d.DrawCycleWatch.ElapsedTicks();
    d.DrawCycleTimeInMS += ms;
    d.DrawCycleTimeInTicks += ticks;
    d.MeasureDrawCycleTimeInMS += ms;
    d.MeasureDrawCycleTicks += ticks;
    if (d.AverageDrawCycleClip > 0 && d.DrawCycles % d.AverageDrawCycleClip == 0) {
        d.AverageDrawCycleTime = float(double(d.MeasureDrawCycleTicks) / TClock::TicksPerMillisecond /
                                       double(d.MeasureDrawCycles));
        d.AverageDrawCycleTicks = float(double(d.MeasureDrawCycleTicks) / double(d.MeasureDrawCycles));
        d.MeasureDrawCycles = 0;
        d.MeasureDrawCycleTimeInMS = 0;
        d.MeasureDrawCycleTicks = 0;
    }
    const std::string sep = "---------------------------------------";
    const std::string text = Format(
        "TotalFrames: %d\r\nTotalFrameTimeInMS: %d\r\nTotalFrameTimeInTicks: %d\r\n" + sep +
            "\r\nMeasureFrameCount: %d\r\nAverageFrameTime: %n\r\nAverageFrameTicks: %n\r\nAverageFramesPerSecond: "
            "%n\r\n" +
            sep + "\r\nMeasureDrawCycles: %d\r\nAverageDrawCycleTime: %n\r\nAverageDrawCycleTicks: %n\r\n" + sep +
            "\r\nDrawCalls: %d\r\nDrawInstances: %d\r\nTotalVertexCount: %d\r\nTotalIndexCount: %d\r\n" + sep +
            "\r\nRenderPasses: %d\r\nRenderListSize: %d\r\nRenderedObjects: %d\r\n" + sep +
            "\r\nPaintingTime: %n\r\nPaintingCycles: %d\r\nPaintingFPS: %n\r\nDisplayRefreshRate: %d",
        d.TotalFrames, d.TotalFrameTimeInMS, d.TotalFrameTimeInTicks, d.MeasureFrameCount, d.AverageFrameTime,
        d.AverageFrameTicks, d.AverageFramesPerSecond, d.MeasureDrawCycles, d.AverageDrawCycleTime,
        d.AverageDrawCycleTicks, d.DrawCalls, d.DrawInstances, d.TotalVertexCount, d.TotalIndexCount,
        d.RenderPasses, d.RenderListSize, d.RenderedObjects, d.PaintingTime, d.PaintingCycles, d.PaintingFPS,
        d.DisplayRefreshRate);
    const TRectF box(ARect.Left + 16, ARect.Top + 16, ARect.Left + 240, ARect.Top + 16 + 26 * 16);
    APainter.DrawText(box, text, 0xFFFFFF00, TTextAlign::Leading, TTextAlign::Leading);
}

void TKorvaneViewport::PaintImmediately()
{
    ++FSceneCount;
    TFinally endScene([this] { --FSceneCount; });
    TForm* form = Root();
    if (form && form->Window()) {
        form->PaintNow();
        return;
    }
    TNullPainter painter;
    PaintTo(painter);
}

void TKorvaneViewport::RenderManual()
{
    FDoManualRender = true;
    TFinally clear([this] { FDoManualRender = false; });
    Invalidate();
    PaintImmediately();
}

void TKorvaneViewport::FixedIntervalTick(TObject*)
{
    if (Destroying() || !Visible() || !ParentedVisible() || FFixedRendering.load() > 0) return;
    if (FDiagnostics.Enabled) FDiagnostics.FrameTimeWatch = TStopwatch::StartNew(FClock);
    Application().ProcessMessages();
    if (Destroying()) return;
    FFixedRendering.fetch_add(1);
    {
        TFinally done([this] { FFixedRendering.fetch_sub(1); });
        ++FSceneCount;
        TFinally endScene([this] { --FSceneCount; });
        if (!FDrawing) {
            FDrawing = true;
            TFinally clear([this] { FDrawing = false; });
            RenderFrame();
        }
        PaintImmediately();
    }
    if (!FDiagnostics.Enabled) return;
    TRenderingDiagnostics& d = FDiagnostics;
    ++d.TotalFrames;
    ++d.MeasureFrameCount;
    const int64_t ms = d.FrameTimeWatch.ElapsedMilliseconds();
    const int64_t ticks = d.FrameTimeWatch.ElapsedTicks();
    d.TotalFrameTimeInMS += ms;
    d.TotalFrameTimeInTicks += ticks;
    d.MeasureFrameTimeInMS += ms;
    d.MeasureFrameTicks += ticks;
    if (d.AverageFrameTimeClip > 0 && d.TotalFrames % d.AverageFrameTimeClip == 0) {
        // From the ticks: whole milliseconds would make frames under 1 ms take no time at all.
        const double averageTicks = double(d.MeasureFrameTicks) / double(d.MeasureFrameCount);
        d.AverageFrameTicks = float(averageTicks);
        d.AverageFrameTime = float(averageTicks / TClock::TicksPerMillisecond);
        d.AverageFramesPerSecond = averageTicks > 0 ? float(TClock::TicksPerSecond / averageTicks) : 0.0f;
        int32_t passes = 0;
        if (auto* forward = dynamic_cast<TForwardRenderer*>(FRenderer.get())) {
            passes += 2;
            if (FGlobalIllumDetail > 0) {
                passes += 2;
                if (FGlobalIllumSoftness > 0) passes += 1;
            }
            if (FEmissiveBlur > 0) passes += 1;
            if (forward->FXAA() > 0) passes += 1;
        }
        d.RenderPasses = passes + int32_t(FRenderPasses.size());
        d.RenderListSize = int32_t(FRenderingList.size());
        d.MeasureFrameCount = 0;
        d.MeasureFrameTimeInMS = 0;
        d.MeasureFrameTicks = 0;
    }
}

// ---------------------------------------------------------------- resize and renderer

void TKorvaneViewport::Resize()
{
    TControl::Resize();
    if (!FConstructed || Destroying()) return;
    const float scale = ViewportScale();
    const int w = int(std::nearbyint(Width() * scale));
    const int h = int(std::nearbyint(Height() * scale));
    if (w < 1 || h < 1) {
        Log::d(Format("ERROR: Illegal viewport resize(%d, %d)", w, h));
        return;
    }
    SetCurrentRenderer(nullptr);
    if (!FRenderer) RecreateRenderer();
    FRenderer->Resize(TPoint(w, h), scale);
    UpdateRendererLights();
    ApplyRenderSettings(FRenderer->SharedContext());
    FRenderer->Apply();
    auto bitmap = MakeOwned<TBitmap>(w, h);
    bitmap->SetBitmapScale(scale);
    FBitmap = std::move(bitmap);
    UpdateRenderPassesOnResize();
    ResizeFilterContext();
    Invalidate();
}

void TKorvaneViewport::ResizeFilterContext()
{
    // The platform's image filters render on their own; nothing to resize here.
}

void TKorvaneViewport::RecreateRenderer()
{
    FCurrentRenderer = nullptr;
    FRenderer.reset();
    const std::string id = Format("Viewport@%d", int64_t(reinterpret_cast<intptr_t>(this)));
    switch (FRendererType) {
    case TRendererType::ForwardRenderer:
        FRenderer.reset(TRenderer::Create<TForwardRenderer>(id, this, {}));
        break;
    case TRendererType::LegacyRenderer:
        FRenderer.reset(TRenderer::Create<TLegacyRenderer>(id, this, {}));
        break;
    default: throw Exception("unsupported renderer type set");
    }
    FRenderer->SetColor(TAlphaColorF::Create(FFill));
    UpdateRendererSettings();
    UpdateRendererLights();
    PassCompositeSettings();
    SetCurrentRenderer(FRenderer.get());
}

// ---------------------------------------------------------------- rendering list

void TKorvaneViewport::AddControlToList(TControl3D* ACtrl)
{
    if (IsSkyBox(ACtrl)) FRenderingList.insert(FRenderingList.begin(), ACtrl);
    else FRenderingList.push_back(ACtrl);
}

void TKorvaneViewport::RebuildRenderingList()
{
    TLockScope lock(*this);
    if (ChildrenCount() == 0 || IsUpdating()) return;
    FRenderingList.clear();
    for (TTreeObject* child : ChildList())
        if (auto* c = dynamic_cast<TControl3D*>(child)) AddControlToList(c);
}

void TKorvaneViewport::CollectChildren(TTreeObject* AObject)
{
    if (AObject->ChildrenCount() == 0 || IsUpdating()) return;
    for (TTreeObject* child : AObject->ChildList()) {
        auto* c = dynamic_cast<TControl3D*>(child);
        if (!c) continue;
        AddControlToList(c);
        ClearRenderingList(c);
        if (c->Visible()) CollectChildren(c);
    }
}

void TKorvaneViewport::CollectRenderingList()
{
    TLockScope lock(*this);
    FRenderingList.clear();
    CollectChildren(this);
}

void TKorvaneViewport::RenderRenderList(PRenderContext)
{
    TLockScope lock(*this);
    if (FRenderingList.empty()) return;
    TContext3D* context = Context();
    auto* ctx = dynamic_cast<TKorvaneContext*>(context);
    TKorvaneRenderPassController* pass = nullptr;
    if (context) {
        const TMatrix3D view = context->CurrentCameraMatrix();
        const TPoint3D eye = view.EyePosition();
        FFrustum = TKorvaneFrustum::Create(context->CurrentProjectionMatrix(), view, eye);
        FUpdateFrustum = false;
        if (ctx) {
            ctx->SetFrustum(FFrustum);
            if (TRenderPass* current = ctx->CurrentPass())
                pass = dynamic_cast<TKorvaneRenderPassController*>(current->Controller());
        }
    }
    if (ctx) ctx->SetSceneBoundary(FSceneBounds);
    FDiagnostics.RenderedObjects = 0;
    for (size_t i = 0; i < FRenderingList.size(); ++i) {
        TControl3D* c = FRenderingList[i];
        if (pass && pass->IsControlIgnored(c)) continue;
        if (TKorvaneRenderingHelper::Renderable(c, FFrustum, ComponentState(), FSceneBounds, FFrustumCulling,
                                                true)) {
            c->RenderInternal();
            ++FDiagnostics.RenderedObjects;
        }
    }
}

void TKorvaneViewport::RenderRenderListByMode(bool AOpaque)
{
    TLockScope lock(*this);
    if (FRenderingList.empty()) return;
    auto* ctx = dynamic_cast<TKorvaneContext*>(Context());
    if (!ctx) return;
    const TMatrix3D view = ctx->CurrentCameraMatrix();
    FFrustum = TKorvaneFrustum::Create(ctx->CurrentProjectionMatrix(), view, view.EyePosition());
    FUpdateFrustum = false;
    ctx->SetFrustum(FFrustum);
    TKorvaneRenderPassController* pass = nullptr;
    if (TRenderPass* current = ctx->CurrentPass())
        pass = dynamic_cast<TKorvaneRenderPassController*>(current->Controller());
    ctx->SetSceneBoundary(FSceneBounds);
    FDiagnostics.RenderedObjects = 0;
    // The list may shrink while objects draw; the index is checked against its current size.
    for (size_t i = 0; i < FRenderingList.size(); ++i) {
        TControl3D* c = FRenderingList[i];
        if (c->Opaque() != AOpaque) continue;
        if (pass && pass->IsControlIgnored(c)) continue;
        if (TKorvaneRenderingHelper::Renderable(c, FFrustum, ComponentState(), FSceneBounds, FFrustumCulling,
                                                true)) {
            // The node alone: its 3D children are listed (and culled) on their own.
            TContext3D* context = ctx;
            if (c->Visible() || Designing()) {
                context->SetMatrix(c->AbsoluteMatrix());
                c->Render();
                if (c->OnRender) c->OnRender(c, context);
            }
            ++FDiagnostics.RenderedObjects;
        }
    }
}

// ---------------------------------------------------------------- children

void TKorvaneViewport::DoAddObject(TTreeObject* AObject)
{
    TControl::DoAddObject(AObject);
    if (auto* c = dynamic_cast<TControl3D*>(AObject)) {
        RebuildRenderingList();
        if (Designing())
            if (auto* cam = dynamic_cast<TCamera*>(c); cam && cam->Tag() != DesignTag) SetCamera(cam);
    }
}

void TKorvaneViewport::DoInsertObject(int Index, TTreeObject* AObject)
{
    TControl::DoInsertObject(Index, AObject);
    if (dynamic_cast<TControl3D*>(AObject)) RebuildRenderingList();
}

void TKorvaneViewport::DoRemoveObject(TTreeObject* AObject)
{
    TControl::DoRemoveObject(AObject);
    if (auto* c = dynamic_cast<TControl3D*>(AObject)) {
        {
            TLockScope lock(*this);
            // A child that leaves is never drawn again, even when it was the last one.
            std::erase(FRenderingList, c);
        }
        RebuildRenderingList();
        if (!Destroying()) Repaint();
    }
}

void TKorvaneViewport::Notification(TComponent* AComponent, TOperation Operation)
{
    TControl::Notification(AComponent, Operation);
    if (Operation != TOperation::opRemove) return;
    if (AComponent == FCamera) FCamera = nullptr;
    if (auto* light = dynamic_cast<TLight*>(AComponent)) RemoveLight(light);
    if (auto* ctrl = dynamic_cast<TKorvaneRenderPassController*>(AComponent)) CleanupRenderPasses(ctrl);
    if (auto* c = dynamic_cast<TControl3D*>(AComponent)) {
        TLockScope lock(*this);
        std::erase(FRenderingList, c);
    }
}

// ---------------------------------------------------------------- render passes

void TKorvaneViewport::AddRenderPass(TKorvaneRenderPassController* AValue)
{
    if (!AValue) return;
    {
        TLockScope lock(*this);
        if (std::find(FRenderPasses.begin(), FRenderPasses.end(), AValue) == FRenderPasses.end()) {
            FRenderPasses.push_back(AValue);
            AValue->FreeNotification(this);
        }
    }
    UpdateRenderPasses();
}

void TKorvaneViewport::RemoveRenderPass(TKorvaneRenderPassController* AController)
{
    TLockScope lock(*this);
    std::erase(FRenderPasses, static_cast<TComponent*>(AController));
}

void TKorvaneViewport::UpdateRenderPasses()
{
    TLockScope lock(*this);
    const std::vector<TComponent*> passes = FRenderPasses;
    for (TComponent* c : passes)
        if (auto* ctrl = dynamic_cast<TKorvaneRenderPassController*>(c)) ctrl->UpdateRenderPass();
}

void TKorvaneViewport::UpdateRenderPassesOnResize()
{
    TLockScope lock(*this);
    const std::vector<TComponent*> passes = FRenderPasses;
    for (TComponent* c : passes)
        if (auto* ctrl = dynamic_cast<TKorvaneRenderPassController*>(c)) ctrl->UpdateOnResize();
}

void TKorvaneViewport::CleanupRenderPasses(TKorvaneRenderPassController* AController)
{
    TLockScope lock(*this);
    if (!FRenderPasses.empty()) RemoveRenderPass(AController);
}

// ---------------------------------------------------------------- picking and coordinates

bool TKorvaneViewport::CheckHitTest(bool AHitTest) const
{
    if (FEditMode) return false;
    if (Designing() && KeyIsDown && KeyIsDown(TKeyboardKey::LeftAlt)) return false;
    return TControl::CheckHitTest(AHitTest);
}

void TKorvaneViewport::MouseDown(TMouseButton AButton, TShiftState AShift, float AX, float AY)
{
    TControl::MouseDown(AButton, AShift, AX, AY);
}

TControl3D* TKorvaneViewport::PickScene(const std::function<TControl3D*(TControl3D*)>& AAsk)
{
    // The screen projection first, then the camera projection; within one,
    // the children from the last to the first, each hit nearer than the last.
    TControl3D* result = nullptr;
    for (TProjection projection : {TProjection::Screen, TProjection::Camera}) {
        GlobalDistance = 65535;
        GlobalProjection = projection;
        const std::vector<TTreeObject*> children = ChildList();
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            auto* c = dynamic_cast<TControl3D*>(*it);
            if (!c || (!c->Visible() && !Designing())) continue;
            if (TControl3D* hit = AAsk(c)) result = hit;
        }
        if (result) break;
    }
    // The designer works on whole models, not on their meshes.
    if (result && Designing())
        if (auto* mesh = dynamic_cast<TKorvaneMesh*>(result))
            if (TKorvaneControl* model = mesh->Model()) result = model;
    return result;
}

TControl3D* TKorvaneViewport::ObjectAtPoint3D(const TPointF& P)
{
    // The viewport's own test first: outside it, in edit mode or while the
    // designer holds left Alt, the scene answers nothing.
    if (TControl::ObjectAtPoint(P) != this) return nullptr;
    return PickScene([&P](TControl3D* c) { return c->ObjectAtPoint(P); });
}

TTreeObject* TKorvaneViewport::FindTarget(const TPointF& P, const TDragObject& AData)
{
    if (!Visible() || !AbsoluteRect().Contains(P)) return nullptr;
    if (TControl3D* target = PickScene([&](TControl3D* c) { return c->FindTarget(P, AData); })) return target;
    return TControl::FindTarget(P, AData);
}

TControl3D* TKorvaneViewport::RayCastIntersect(const TPointF& P)
{
    TLockScope lock(*this);
    const TBoundingBox frustumBox = FFrustum.ToBoundingBox();
    const std::vector<TControl3D*> list = FRenderingList;
    for (TControl3D* c : list) {
        const bool shown = c->Visible() || (Designing() && !c->Locked());
        if (!shown || !c->HitTest()) continue;
        if (!c->OnMouseDown && !c->OnMouseUp && !c->OnMouseMove) continue;
        if (!TKorvaneRenderingHelper::IsBoundless(c) &&
            !BoxesIntersect(TKorvaneRenderingHelper::WorldBox(c), frustumBox))
            continue;
        TVector3D rayPos, rayDir;
        TPoint3D hitPoint;
        GlobalDistance = MaxHitDistance;
        GlobalProjection = c->Projection();
        if (RayCastObjectAtPoint(c, P, rayPos, rayDir, hitPoint) != c) continue;
        if (c->OnMouseMove) c->OnMouseMove(c, TShiftState(), P.X, P.Y, rayPos, rayDir);
        return c;
    }
    return nullptr;
}

TPoint3D TKorvaneViewport::ScreenToWorld(const TPointF& APoint2D)
{
    TCamera* camera = FUsingDesignCamera ? FDesignCamera : FCamera;
    auto* ctx = dynamic_cast<TKorvaneContext*>(Context());
    if (!camera || !ctx) return TPoint3D(0, 0, 0);
    return ctx->ScreenToWorld(APoint2D, camera->Projection());
}

TPointF TKorvaneViewport::WorldToScreen(const TPoint3D& APoint3D)
{
    TCamera* camera = FUsingDesignCamera ? FDesignCamera : FCamera;
    auto* ctx = dynamic_cast<TKorvaneContext*>(Context());
    if (!camera || !ctx) return TPointF(0, 0);
    const TMatrix3D m = camera->Projection() == TProjection::Screen
                            ? ctx->CurrentScreenMatrix()
                            : ctx->CurrentCameraMatrix() * ctx->CurrentProjectionMatrix();
    const TVector3D clip = TVector3D(APoint3D, 1) * m;
    if (clip.W == 0) return TPointF(0, 0);
    const double nx = clip.X / clip.W, ny = clip.Y / clip.W;
    return TPointF(float((nx + 1) / 2 * ctx->Width()), float((1 - ny) / 2 * ctx->Height()));
}

// ---------------------------------------------------------------- screenshot

TBitmap* TKorvaneViewport::MakeScreenshot()
{
    TLockScope lock(*this);
    const float scale = 1.0f;
    double w = double(Width()) * scale, h = double(Height()) * scale;
    const double m = MaxBitmapSize;
    // Fitted into the largest square bitmap, keeping the proportions.
    if (w > m || h > m) {
        const double f = std::min(m / w, m / h);
        w *= f;
        h *= f;
    }
    const int bw = int(std::lround(w)), bh = int(std::lround(h));
    auto result = MakeOwned<TBitmap>(std::max(bw, 0), std::max(bh, 0));
    result->SetBitmapScale(scale);
    result->Clear(0x00000000);
    if (FBitmap && !FBitmap->IsEmpty() && bw > 0 && bh > 0) {
        TCanvas* canvas = result->Canvas();
        if (canvas->BeginScene()) {
            TFinally end([canvas] { canvas->EndScene(); });
            canvas->DrawBitmap(*FBitmap, TRectF(0, 0, float(FBitmap->Width()), float(FBitmap->Height())),
                               TRectF(0, 0, float(bw / scale), float(bh / scale)), 1, false);
        }
    }
    return result.release();
}

// ---------------------------------------------------------------- design camera and edit mode

void TKorvaneViewport::DesignPositionChanged(TObject*)
{
    if (FDesignCameraX) FDesignCameraX->Position().SetPoint(FDesignPosition->Point());
}

void TKorvaneViewport::DesignRotationChanged(TObject*)
{
    if (!FDesignCameraX) return;
    FDesignCameraX->ResetRotationAngle();
    FDesignCameraX->RotationAngle().SetPoint(FDesignRotationAngle->Point());
}

void TKorvaneViewport::DesignRotationComponentChanged(int AIndex)
{
    if (!FDesignCameraX) return;
    const TPoint3D& p = FDesignRotationAngle->Point();
    switch (AIndex) {
    case 0: FDesignCameraX->RotationAngle().SetX(p.X); break;
    case 1: FDesignCameraX->RotationAngle().SetY(p.Y); break;
    default: FDesignCameraX->RotationAngle().SetZ(p.Z); break;
    }
}

void TKorvaneViewport::SetEditMode(bool AValue)
{
    if (FEditMode) {
        SetUsingDesignCamera(FStoredUsingDesignCamera);
        FFrustumCulling = FStoredFrustumCulling;
    } else {
        FStoredUsingDesignCamera = FUsingDesignCamera;
        FStoredFrustumCulling = FFrustumCulling;
        SetUsingDesignCamera(true);
        FFrustumCulling = false;
    }
    FEditMode = AValue;
    if (FDesignCameraX) FDesignCameraX->SetLocked(!FEditMode);
    if (FDesignCamera) FDesignCamera->SetLocked(!FEditMode);
    AttachDesignController();
    Invalidate();
}

void TKorvaneViewport::ToggleEditMode()
{
    SetEditMode(!FEditMode);
    Invalidate();
}

void TKorvaneViewport::ResetDesignCamera()
{
    if (!FEditMode) return;
    BeginUpdate();
    TFinally end([this] {
        EndUpdate();
        Invalidate();
    });
    if (FDesignCameraX) {
        FDesignCameraX->Position().SetPoint(FDesignCameraX->AbsoluteToLocal(TPoint3D(0, 0, 0)) +
                                            FDesignCameraX->Position().Point());
        FDesignCameraX->ResetRotationAngle();
        FDesignCameraX->RotationAngle().SetPoint(TPoint3D(0, 0, 0));
    }
    if (FDesignCamera) {
        FDesignCamera->ResetRotationAngle();
        FDesignCamera->RotationAngle().SetPoint(TPoint3D(0, 0, 0));
        FDesignCamera->Position().SetPoint(TPoint3D(0, -5, -20));
    }
}

// ---------------------------------------------------------------- unit routines

TTreeObject* FindParentOfClass(TTreeObject* AObject, TClass AClass)
{
    if (!AObject) return nullptr;
    for (TTreeObject* p = AObject->Parent(); p; p = p->Parent())
        if (p->ClassType()->InheritsFrom(AClass)) return p;
    return nullptr;
}

TKorvaneViewport* FindParentViewport(TTreeObject* AObject)
{
    return static_cast<TKorvaneViewport*>(FindParentOfClass(AObject, TKorvaneViewport::StaticClass()));
}

namespace units {

void ViewportInitialize()
{
    RegisterClass<TKorvaneViewport>();
    RegisterOpenGLWindowsContext();
}

void ViewportFinalize() { UnRegisterClass(TKorvaneViewport::StaticClass()); }

} // namespace units

} // namespace korvane
