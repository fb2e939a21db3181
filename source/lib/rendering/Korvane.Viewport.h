#pragma once
// The viewport control: a 2D control that hosts a 3D scene. It renders its
// scene through its renderer into an offscreen texture, copies each finished
// frame into a bitmap and paints that bitmap.
//
// Frame loop. By default frames come at a fixed rate from the frame timer, a
// thread of its own that only waits and hands each tick to the main thread;
// the tick renders one frame and repaints, and a paint in between only draws
// the last frame's bitmap. Without the fixed rate the paint renders itself
// (or, with ManualRendering, only when RenderManual asks for it). All
// rendering runs on the main thread: FFixedRendering counts ticks in progress
// and FDrawing guards against a nested frame, so a tick that arrives while a
// frame runs is skipped. The timer thread is always joined before the
// viewport goes.
//
// Scene services. The rendering list (every 3D object under the viewport,
// sky boxes first), the frustum test at drawing time, the registered lights
// and render-pass controllers, picking, conversions between screen and world,
// screenshots, the design camera and its edit mode.
//
// Frame time is measured on the default clock in effect at construction, in
// its 100-ns ticks, so averages of very short frames stay finite.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Korvane.Context.Frustum.h"
#include "Korvane.Context.Types.h"
#include "Korvane.Renderer.h"
#include "Platform.Classes.h"
#include "Platform.Controls.h"
#include "Platform.Controls3D.h"
#include "Platform.Threads.h"

namespace korvane {

KORVANE_ENUM_NAMES(TRendererType, "ForwardRenderer", "LegacyRenderer");

class TKorvaneCamera;
class TKorvaneControl;
class TKorvaneContext;
class TKorvaneSmoothCameraController;
class TKorvaneTextureBitmap;
class TKorvaneTimer;

// Frame statistics of a viewport.
struct TRenderingDiagnostics {
    TStopwatch FrameTimeWatch;
    TStopwatch DrawCycleWatch;
    bool Enabled = false;
    int64_t TotalFrames = 0;
    int64_t TotalFrameTimeInMS = 0;
    int64_t TotalFrameTimeInTicks = 0;
    int64_t MeasureFrameCount = 0;
    int64_t MeasureFrameTimeInMS = 0;
    int64_t MeasureFrameTicks = 0;
    int64_t AverageFrameTimeClip = 0;
    // Milliseconds, taken from the measured ticks (not from whole milliseconds).
    float AverageFrameTime = 0;
    float AverageFrameTicks = 0;
    // 0 while no frame time could be measured.
    float AverageFramesPerSecond = 0;
    int64_t DrawCycles = 0;
    int64_t DrawCycleTimeInMS = 0;
    int64_t DrawCycleTimeInTicks = 0;
    int64_t MeasureDrawCycles = 0;
    int64_t MeasureDrawCycleTimeInMS = 0;
    int64_t MeasureDrawCycleTicks = 0;
    int64_t AverageDrawCycleClip = 0;
    float AverageDrawCycleTime = 0;
    float AverageDrawCycleTicks = 0;
    int64_t DrawCalls = 0;
    int64_t DrawInstances = 0;
    int64_t TotalVertexCount = 0;
    int64_t TotalIndexCount = 0;
    int32_t RenderPasses = 0;
    int32_t RenderListSize = 0;
    int32_t RenderedObjects = 0;
    double PaintingTime = 0;
    int32_t PaintingCycles = 0;
    double PaintingFPS = 0;
    int32_t DisplayRefreshRate = 0;

    // Zeroed; AverageFrameTimeClip 30 and AverageDrawCycleClip 1000.
    static TRenderingDiagnostics Create(bool AEnabled);
};

// The visibility and frustum test of the list drawing.
class TKorvaneRenderingHelper {
public:
    // Whether ACtrl is drawn: see the design of the list drawing. Objects that
    // pass the frustum (or skip it) enlarge ASceneBounds, except lights,
    // dummies, cameras and sky boxes, which are always drawn.
    static bool Renderable(TControl3D* ACtrl, const TKorvaneFrustum& AFrustum, TComponentState AComponentState,
                           TBoundingBox& ASceneBounds, bool AFrustumCulling, bool ACheckVisibility);
    static void UpdateSceneBounds(TControl3D* ACtrl, TComponentState AComponentState, TBoundingBox& ASceneBounds);
    // Lights, dummies, cameras and sky boxes: drawn without a frustum test and
    // never part of the scene bounds.
    static bool IsBoundless(TControl3D* ACtrl);
    // The object's box in world space.
    static TBoundingBox WorldBox(TControl3D* ACtrl);
};

class TKorvaneViewport : public TControl, public IViewport3D, public IKorvaneViewport {
    KORVANE_CLASS(TKorvaneViewport, TControl)

    // Raises Exception "owner component not set" without an owner, before
    // anything is made.
    explicit TKorvaneViewport(TComponent* AOwner);
    ~TKorvaneViewport() override;

    // --- properties ----------------------------------------------------------
    TPosition3D& DesignPosition() const { return *FDesignPosition; }
    TPosition3D& DesignRotationAngle() const { return *FDesignRotationAngle; }
    TRendererType RendererType() const { return FRendererType; }
    // Stores the value and makes the renderer anew ("unsupported renderer type set").
    void SetRendererType(TRendererType AValue);
    bool ManualRendering() const { return FManualRendering; }
    void SetManualRendering(bool AValue) { FManualRendering = AValue; }
    bool UseFixedFrameRate() const { return FUseFixedFrameRate; }
    virtual void SetUseFixedFrameRate(bool AValue);
    int32_t FixedFrameRate() const { return FFixedFrameRate; }
    void SetFixedFrameRate(int32_t AValue);
    // The frame timer's interval in milliseconds.
    int32_t FrameRateStep() const { return FFrameRateStep; }
    bool FrustumCulling() const { return FFrustumCulling; }
    void SetFrustumCulling(bool AValue) { FFrustumCulling = AValue; }
    bool HighRes() const { return FHighRes; }
    void SetHighRes(bool AValue);
    bool VSync() const { return FVSync; }
    void SetVSync(bool AValue);
    float NearPlane() const { return FNearPlane; }
    void SetNearPlane(float AValue);
    float FarPlane() const { return FFarPlane; }
    void SetFarPlane(float AValue);

    virtual bool GetFog() const { return FFog.Enabled; }
    virtual void SetFog(bool AValue);
    virtual uint8_t GetFogMode() const { return FFog.Mode; }
    virtual void SetFogMode(uint8_t AValue);
    virtual float GetFogDensity() const { return FFog.Density; }
    virtual void SetFogDensity(float AValue);
    virtual float GetFogStart() const { return FFog.FogStart; }
    virtual void SetFogStart(float AValue);
    virtual float GetFogEnd() const { return FFog.FogEnd; }
    virtual void SetFogEnd(float AValue);
    virtual TAlphaColor GetFogColor() const;
    virtual void SetFogColor(TAlphaColor AValue);
    virtual TAlphaColorF GetFogColorF() const { return FFog.Color; }
    virtual void SetFogColorF(const TAlphaColorF& AValue);
    const TKorvaneFogSettings& FogSettings() const { return FFog; }

    virtual TPoint3D GetSaturation() const { return FSaturation; }
    virtual void SetSaturation(const TPoint3D& AValue);
    // Index 0 opaque, 1 translucent, 2 composite.
    virtual float GetSaturationComponent(int AIndex) const;
    virtual void SetSaturationComponent(int AIndex, float AValue);
    float OpaqueSaturation() const { return GetSaturationComponent(0); }
    void SetOpaqueSaturation(float V) { SetSaturationComponent(0, V); }
    float TranslucentSaturation() const { return GetSaturationComponent(1); }
    void SetTranslucentSaturation(float V) { SetSaturationComponent(1, V); }
    float CompositeSaturation() const { return GetSaturationComponent(2); }
    void SetCompositeSaturation(float V) { SetSaturationComponent(2, V); }
    // Kept within 0 .. 15.
    virtual int32_t GetEmissiveBlur() const { return FEmissiveBlur; }
    virtual void SetEmissiveBlur(int32_t AValue);
    // Kept as given; the composite renderer applies its own limit.
    virtual int32_t GetGlobalIllumDetail() const { return FGlobalIllumDetail; }
    virtual void SetGlobalIllumDetail(int32_t AValue);
    // Kept within 0 .. 5.
    virtual float GetGlobalIllumSoftness() const { return FGlobalIllumSoftness; }
    virtual void SetGlobalIllumSoftness(float AValue);
    // Kept within 0 .. 10 each.
    virtual float GetShadowStrength() const { return FShadowStrength; }
    virtual void SetShadowStrength(float AValue);
    virtual float GetReflectionStrength() const { return FReflectionStrength; }
    virtual void SetReflectionStrength(float AValue);
    // Kept within 0 .. 8.
    virtual int32_t GetFXAA() const { return FXAASteps; }
    virtual void SetFXAA(int32_t AValue);

    bool DiagnosticsActive() const { return FDiagnostics.Enabled; }
    void SetDiagnosticsActive(bool AValue) { FDiagnostics.Enabled = AValue; }
    const TRenderingDiagnostics& Diagnostics() const { return FDiagnostics; }

    TCamera* Camera() const { return FCamera; }
    void SetCamera(TCamera* AValue);
    TAlphaColor Color() const { return FFill; }
    void SetColor(TAlphaColor AValue);
    TMultisample Multisample() const { return FMultisample; }
    // The renderer keeps its own multisample setting; this one is only kept for forms.
    void SetMultisample(TMultisample) {}
    bool UsingDesignCamera() const { return FUsingDesignCamera; }
    void SetUsingDesignCamera(bool AValue);
    // The current renderer's shared context, or nil.
    TContext3D* Context() const;
    TCamera* CurrentCamera() const;
    double FPS() const;
    float ViewportScale() const;
    // True while the context smooths points, lines and polygons.
    bool Smooth() const;
    void SetSmooth(bool AValue);
    const TBoundingBox& SceneBounds() const { return FSceneBounds; }
    void SetSceneBounds(const TBoundingBox& AValue) { FSceneBounds = AValue; }
    const TKorvaneFrustum& CurrentFrustum() const { return FFrustum; }
    bool LockRendering() const { return FLockRendering; }
    void SetLockRendering(bool AValue) { FLockRendering = AValue; }
    bool EditMode() const { return FEditMode; }
    void SetEditMode(bool AValue);
    TRenderer* CurrentRenderer();
    TRenderer* MainPassRenderer() const { return FRenderer.get(); }
    // The copy of the last frame that paint draws (nil before the first resize).
    TBitmap* FrameBitmap() const { return FBitmap.get(); }
    // The frame timer (its thread is started by the first fixed-rate paint).
    TKorvaneTimer* FrameTimer() const { return FFixedInterval.get(); }
    int32_t FixedRendering() const { return FFixedRendering.load(); }
    const std::vector<TControl3D*>& RenderingList() const { return FRenderingList; }
    const std::vector<TLight*>& Lights() const { return FLights; }
    const std::vector<TComponent*>& RenderPasses() const { return FRenderPasses; }

    // --- operations ----------------------------------------------------------
    virtual void UpdateRenderSettings();
    virtual void UpdateRendererSettings();
    virtual void UpdateRendererLights();
    virtual void CollectRenderingList();
    virtual void RenderScene(PRenderContext ARenderContext);
    virtual void RenderFrame();
    virtual void ResizeFilterContext();
    virtual void ToggleEditMode();
    virtual void ResetDesignCamera();
    virtual void ForceResize();
    virtual void EndUpdateWithoutInvalidate();
    virtual void Lock();
    virtual void Unlock();
    virtual void UpdateDisplayRefreshRate();
    virtual void Invalidate();
    virtual void ForceUpdateEffects();
    virtual void RenderManual();
    virtual void RebuildRenderingList();
    void AddRenderPass(TKorvaneRenderPassController* AValue) override;
    void RemoveRenderPass(TKorvaneRenderPassController* AController) override;
    virtual void UpdateRenderPassesOnResize();
    void UpdateRenderPasses() override;
    virtual void CleanupRenderPasses(TKorvaneRenderPassController* AController);
    virtual TPoint3D ScreenToWorld(const TPointF& APoint2D);
    virtual TPointF WorldToScreen(const TPoint3D& APoint3D);
    // The first object of the rendering list hit under P that has a mouse handler.
    virtual TControl3D* RayCastIntersect(const TPointF& P);
    virtual TCamera* GetDesignCamera() const { return FDesignCamera; }
    virtual TKorvaneSmoothCameraController* GetDesignCameraController() const { return FDesignCameraX; }
    virtual void ApplyRenderSettings(TContext3D* AContext);
    void ApplyLightSettings(TContext3D* AContext) override;

    // The list drawing: the whole list, or its opaque or translucent half.
    void RenderRenderList(PRenderContext ARenderContext);
    void RenderRenderListByMode(bool AOpaque);
    // The frame as a new bitmap (owned by the caller), at most the canvas's
    // largest bitmap on its longer side.
    TBitmap* MakeScreenshot();
    // The largest bitmap side a screenshot may have (the canvas's default).
    static int MaxBitmapSize;
    // The frame timer's tick (run on the main thread).
    void FixedIntervalTick(TObject* ASender);
    // The display's refresh rate in Hz, 0 when it cannot be told; replaceable for tests.
    static std::function<int32_t()> QueryDisplayRefreshRate;

    void BeginUpdate();
    void EndUpdate();
    void SetCurrentRenderer(TRenderer* AValue) override;
    // The 3D object under P (form coordinates), nil when none.
    TControl3D* ObjectAtPoint3D(const TPointF& P);
    // The drop target under P: a 3D object that accepts the drag, else the
    // viewport's own answer.
    TTreeObject* FindTarget(const TPointF& P, const TDragObject& AData) override;

    // --- IViewport3D ---------------------------------------------------------
    TTreeObject* GetObject() override { return this; }
    TContext3D* GetContext() override { return Context(); }
    TCamera* GetCurrentCamera() override { return CurrentCamera(); }
    TPointF ScreenToLocal(const TPointF& P) override { return AbsoluteToLocal(P); }
    // Asks for the next frame without rendering or painting anything now.
    void NeedRender() override;
    // How often NeedRender was called (changes of the scene's objects).
    int64_t RenderRequests() const { return FRenderRequests; }
    // Lights of the scene register here as they enter the viewport's tree (at
    // any depth); a light already listed is not listed again.
    void AddLight(TLight* ALight) override;
    void RemoveLight(TLight* ALight) override;
    int LightCount() const { return int(FLights.size()); }

    // --- IKorvaneViewport ----------------------------------------------------
    TComponent* GetViewportComponent() override { return this; }
    TContext3D* GetViewportContext() override { return Context(); }
    float GetViewportWidth() override { return Width(); }
    float GetViewportHeight() override { return Height(); }
    float GetViewportScale() override { return ViewportScale(); }
    TAlphaColor GetViewportColor() override { return FFill; }
    TRenderer* GetMainRenderer() override { return FRenderer.get(); }
    TRenderer* GetCurrentRenderer() override { return CurrentRenderer(); }
    TCamera* GetViewportCurrentCamera() override { return CurrentCamera(); }

    void Notification(TComponent* AComponent, TOperation Operation) override;
    void MouseDown(TMouseButton AButton, TShiftState AShift, float AX, float AY) override;

protected:
    void Paint(TControlPainter& APainter, const TRectF& ARect) override;
    void Resize() override;
    void DoAddObject(TTreeObject* AObject) override;
    void DoInsertObject(int Index, TTreeObject* AObject) override;
    void DoRemoveObject(TTreeObject* AObject) override;
    void BeforeDestruction() override;
    // False in edit mode, and at design time while the left Alt key is down
    // (the designer then picks the scene's objects, not the viewport).
    bool CheckHitTest(bool AHitTest) const override;
    virtual void RecreateRenderer();
    virtual void UpdateFrameRateStep();
    // Draws FBitmap and the overlays.
    virtual void DrawResult(TControlPainter& APainter, const TRectF& ARect);
    virtual void PaintEditModeOverlay(TControlPainter& APainter, const TRectF& ARect);
    virtual void PaintDiagnostics(TControlPainter& APainter, const TRectF& ARect);
    void CopyResultToBitmap();
    // Paints the control at once (the form's window, or without one the
    // control alone with nothing to show it on) inside an open canvas scene.
    void PaintImmediately();

private:
    static TComponent* CheckOwner(TComponent* AOwner);
    bool Designing() const { return ComponentState().Contains(csDesigning); }
    // Whether the frame timer is running and so renders the next frame.
    bool FrameTimerRenders() const;
    bool ParentedVisible() const;
    void AddControlToList(TControl3D* ACtrl);
    void CollectChildren(TTreeObject* AObject);
    void PassCompositeSettings();
    TCompositeRenderer* CompositeRenderer() const;
    void DesignPositionChanged(TObject* Sender);
    void DesignRotationChanged(TObject* Sender);
    void DesignRotationComponentChanged(int AIndex);
    void AttachDesignController();
    double NowSeconds() const;
    // Asks the visible 3D children (every one while designing) with AAsk in
    // the screen and then the camera projection; see ObjectAtPoint3D.
    TControl3D* PickScene(const std::function<TControl3D*(TControl3D*)>& AAsk);

    TOwned<TBitmap> FBitmap;
    bool FEditMode = false;
    bool FStoredUsingDesignCamera = false, FStoredFrustumCulling = false;
    TRendererType FRendererType = TRendererType::ForwardRenderer;
    TOwned<TRenderer> FRenderer;
    TRenderer* FCurrentRenderer = nullptr;
    TCamera* FCamera = nullptr;
    TCamera* FDesignCamera = nullptr;
    TKorvaneSmoothCameraController* FDesignCameraX = nullptr;
    TTimer* FDesignTimer = nullptr;
    TOwned<TPosition3D> FDesignPosition, FDesignRotationAngle;
    TAlphaColor FFill = 0xFF000000;
    TMultisample FMultisample = TMultisample::TwoSamples;
    bool FUsingDesignCamera = true;
    bool FDrawing = false;
    std::vector<TControl3D*> FRenderingList;
    int32_t FScaleChangedId = 0;
    std::vector<TLight*> FLights;
    bool FDepthStencil = false;
    bool FInvalidated = false;
    std::vector<TComponent*> FRenderPasses;
    TClock* FClock;
    double FRenderTime = 0;
    int32_t FRenderCycles = 0;
    double FFPS = 0;
    bool FUseFixedFrameRate = false;
    int32_t FFixedFrameRate = 60;
    TOwned<TKorvaneTimer> FFixedInterval;
    int32_t FFrameRateStep = 16;
    std::atomic<int32_t> FFixedRendering{0};
    bool FManualRendering = false;
    bool FDoManualRender = false;
    bool FHighRes = false;
    bool FVSync = false;
    float FNearPlane, FFarPlane;
    bool FLockRendering = false;
    TCriticalSection FLock;
    TBoundingBox FSceneBounds;
    TKorvaneFrustum FFrustum;
    bool FFrustumCulling = true;
    bool FUpdateFrustum = true;
    TKorvaneFogSettings FFog;
    TPoint3D FSaturation{0, 1.5f, 0};
    int32_t FEmissiveBlur = 0;
    int32_t FGlobalIllumDetail = 0;
    float FGlobalIllumSoftness = 1.0f;
    float FShadowStrength = 0.4f, FReflectionStrength = 0.0f;
    int32_t FXAASteps = 1;
    TRenderingDiagnostics FDiagnostics;
    // The viewport's canvas scene: open while a paint, a tick or a manual
    // render is under way; frames render only inside it.
    int FSceneCount = 0;
    bool FConstructed = false;
    int64_t FRenderRequests = 0;
};

// The first object on the parent chain of AObject (not AObject itself) of
// class AClass or a descendant; nil when none.
TTreeObject* FindParentOfClass(TTreeObject* AObject, TClass AClass);
TKorvaneViewport* FindParentViewport(TTreeObject* AObject);

} // namespace korvane
