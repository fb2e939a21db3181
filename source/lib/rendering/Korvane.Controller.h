#pragma once
// Controllers of the render pipeline. A render-pass controller drives one named
// render pass of a context: it decides whether the pass runs this frame, binds
// and releases its renderer around the pass, sizes it, and may replace the
// material of everything the pass draws.
//
// A controller sits under a viewport (IKorvaneViewport), owns a renderer of its
// own and registers a TRenderPass under its Id in the viewport context's pass
// table; the context runs the pass at its stage of every frame and calls back
// into the controller. Rectangle passes draw one screen quad with the pass's
// material (TKorvaneRenderPassMaterial), whose programs follow one pattern:
// GLSL 4.30 text registered as "<shader name>-<material address>.fvs/.fps",
// each variable X being the uniform _X.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Korvane.Context.Rendering.h"
#include "Korvane.Context.Types.h"
#include "Korvane.Renderer.h"
#include "Platform.Classes.h"
#include "Platform.Controls3D.h"
#include "Platform.Materials3D.h"
#include "Platform.Math3D.h"
#include "Platform.MeshBuffers.h"
#include "Platform.Tree.h"
#include "Platform.Types3D.h"

namespace korvane {

class TKorvaneContext;
class TKorvaneRenderPassController;
class TKorvaneRenderPassMaterialSource;

class TKorvaneController : public TTreeObject {
    KORVANE_CLASS(TKorvaneController, TTreeObject)

    explicit TKorvaneController(TComponent* AOwner) : TTreeObject(AOwner) {}

    // Whether the controller takes part in rendering.
    virtual bool Enabled() const { return FEnabled; }
    virtual void SetEnabled(bool AValue) { FEnabled = AValue; }

private:
    bool FEnabled = true;
};

// One control a pass is told to draw or to leave out.
class TKorvaneManagedControl : public TCollectionItem {
    KORVANE_CLASS(TKorvaneManagedControl, TCollectionItem)

    explicit TKorvaneManagedControl(TCollection* ACollection) : TCollectionItem(ACollection) {}

    std::string DisplayName() const override { return FName; }
    void SetDisplayName(const std::string& Value) override { FName = Value; }
    TControl3D* Control() const { return FControl; }
    void SetControl(TControl3D* AValue) { FControl = AValue; }
    // From another item: its control; anything else as inherited.
    void Assign(const TPersistent* Source) override;

private:
    std::string FName;
    TControl3D* FControl = nullptr;
};

class TKorvaneManagedControls : public TOwnedCollection {
    KORVANE_CLASS(TKorvaneManagedControls, TOwnedCollection)

    TKorvaneManagedControls(TPersistent* AOwner, TClass AItemClass) : TOwnedCollection(AOwner, AItemClass) {}

    TKorvaneManagedControl* Item(int AIndex) const { return static_cast<TKorvaneManagedControl*>(Items(AIndex)); }
    // The first item whose control is ACtrl; -1 when none.
    int IndexOf(const TControl3D* ACtrl) const;
    bool Contains(const TControl3D* ACtrl) const { return IndexOf(ACtrl) >= 0; }
    TKorvaneManagedControl* GetManagedControl(const TControl3D* ACtrl) const;
    // Deletes the first item of ACtrl.
    void Remove(const TControl3D* ACtrl);
    // A removed component: every item of it forgets its control.
    void Notification(TComponent* AComponent, TOperation Operation);
};

// Fired around a pass's setup and rendering.
using TRenderPassEvent =
    std::function<void(TObject* ASender, TContext3D* AContext, int ACount, TRenderPass* APass)>;

class TKorvaneRenderPassController : public TKorvaneController {
    KORVANE_CLASS(TKorvaneRenderPassController, TKorvaneController)

    // A controller of class T, constructed and then set up (defaults, the
    // viewport found up the owner's chain, its renderer, its control lists).
    template <class T, class... Args>
    static T* Create(TComponent* AOwner, const std::string& AId, Args&&... AArgs)
    {
        return InitializeObject(new T(AOwner, std::forward<Args>(AArgs)...), [&](T* ACtrl) {
            ACtrl->FId = AId;
            ACtrl->AfterConstruction();
        });
    }

    // Construction alone: the defaults below, no viewport, no renderer.
    // AfterConstruction does the rest.
    explicit TKorvaneRenderPassController(TComponent* AOwner);
    ~TKorvaneRenderPassController() override;

    // InitDefaults, CreateRenderer, ResetRendererToViewportSize, the matrices
    // and the control lists.
    virtual void AfterConstruction();

    // --- what the context and the materials rely on ---------------------------

    // How many times the context runs the pass per frame (0 counts as 1).
    int Iterations = 1;
    TRenderPassMethod Method = TRenderPassMethod::RenderListToFBO;
    TRenderPassRenderingProc RenderProc = TRenderPassRenderingProc::DefaultRendering;

    // Frames counted by the pass's scene begin, skipped ones included.
    uint64_t FrameCount() const { return FFrameCount; }
    void IncFrameCount() { ++FFrameCount; }
    // Skips the pass for the next frame.
    virtual void SkipRendering() { FDoSkipRendering = true; }
    bool RenderingSkipped() const { return FDoSkipRendering; }
    // Clears the skip flag and nothing else.
    void ResetSkippedRendering() { FDoSkipRendering = false; }

    // The material source that replaces the materials of what the pass draws, or nil.
    virtual TMaterialSource* Shader() const;
    virtual void SetShader(TKorvaneRenderPassMaterialSource* AValue) { FShader = AValue; }
    TKorvaneRenderPassMaterialSource* PassShader() const { return FShader; }
    // The base draws every primitive kind.
    virtual bool IsPrimitivesKindSupported(TPrimitivesKind) const { return true; }
    // Internal passes (those a composite renderer builds) never enter a pass table.
    virtual bool IsInternalRenderPass() const { return false; }

    // Makes the pass's renderer current on the viewport and binds it / gives it back.
    virtual void BeginRenderPassRendering(TContext3D* AContext, TAlphaColor AFill, float ADepth, uint32_t AStencil);
    virtual void EndRenderPassRendering(TContext3D* AContext);
    // The size the context is set to while the pass runs.
    virtual TPoint ComputeRenderingSize(TContext3D* AContext, int AWidth, int AHeight);
    // The texture the pass renders into, or nil.
    virtual TTexture* GetOutputTexture();
    TTexture* OutputTexture() { return GetOutputTexture(); }
    // Draws ARect as one quad with the pass material (method RectToFBO).
    virtual void RenderToContext(TKorvaneContext* AContext, TTexture* ATexture, const TRect& ARect,
                                 const TPoint& ADstPos);

    // The texture matrix of the pass (kept up to date by the pass while it
    // renders), times the bias matrix when AUseBias: materials that sample
    // the pass's output project their positions with it.
    virtual TMatrix3D GetTextureMatrix(TContext3D* AContext, bool AUseBias) const;
    TMatrix3D GetTextureMatrix(bool AUseBias) const { return GetTextureMatrix(nullptr, AUseBias); }
    void SetTextureMatrix(const TMatrix3D& AValue) { FTextureMatrix = AValue; }
    const TMatrix3D& BiasMatrix() const { return FBiasMatrix; }
    // The material source's input pass (nothing / nil without a material source).
    virtual void SetInputPass(TKorvaneRenderPassController* APass);
    virtual TKorvaneRenderPassController* GetInputPass() const;
    virtual TMatrix3D GetCurrentModelViewProjectionMatrix();

    // --- identity and viewport ---------------------------------------------

    const std::string& Id() const { return FId; }
    virtual void SetId(const std::string& AValue);
    TRenderPassType _Type() const { return FType; }
    virtual void Set_Type(TRenderPassType AValue);
    IKorvaneViewport* Viewport() const { return FViewport; }
    virtual void SetViewport(IKorvaneViewport* AValue);
    void SetName(const std::string& NewName) override;

    // Removes both ids from the context's pass table (nothing without one).
    virtual void UnregisterRenderPassIds(TContext3D* AContext, const std::string& AOldId, const std::string& ANewId);
    virtual void UnregisterRenderPassIdsFromViewport(const std::string& AOldId, const std::string& ANewId);
    // Registers or refreshes the pass object in the viewport context's table.
    virtual void UpdateRenderPass();
    // A new pass object for the renderer's context, in no table (the caller owns it).
    virtual TRenderPass* CreateRenderPassInstance(TContext3D* AContext);
    // Called by the viewport after it resized.
    virtual void UpdateOnResize();
    void SetViewportSizeAndScaleWithoutResize(IKorvaneViewport* AViewport, const TPoint& ASize, float AScale);

    // --- renderer ------------------------------------------------------------

    TRenderer* Renderer() const { return FRenderer; }
    void SetRenderer(TRenderer* AValue) { FRenderer = AValue; }
    bool OwnsRenderer() const { return FOwnsRenderer; }
    TRenderer* PreviousRenderer() const { return FPreviousRenderer; }
    TRendererType RendererType() const { return FRendererType; }
    virtual void SetRendererType(TRendererType AValue);
    TRendererFlags RendererFlags() const { return FRendererFlags; }
    void SetRendererFlags(TRendererFlags AValue) { FRendererFlags = AValue; }
    virtual TFrameBufferObject* FBO() const;
    virtual TKorvaneTextureBitmap* FBOTexture() const;

    virtual void CreateRenderer();
    virtual void ApplyRenderer();
    virtual void ResizeRenderer(const TPoint& ASize, float AScale);
    virtual void SetRendererColor(const TAlphaColorF& AColor);
    // Lets a pass supply its renderer's composite texture; the base supplies none.
    virtual void CreateTargetTexture(TRenderer* ASender, const TPoint& ASize, float AScale,
                                     TKorvaneTextureBitmap*& ATexture);
    virtual void ApplyBackgroundColor();
    virtual void ResetRenderer();
    virtual void ResetRendererToViewportSize();
    virtual void BindRenderer();
    virtual void UnbindRenderer();

    // --- size and colour -----------------------------------------------------

    const TPoint& ViewportSize() const { return FViewportSize; }
    virtual void SetViewportSize(const TPoint& AValue);
    int ViewportWidth() const { return FViewportSize.X; }
    virtual void SetViewportWidth(int AValue);
    int ViewportHeight() const { return FViewportSize.Y; }
    virtual void SetViewportHeight(int AValue);
    bool OverwriteViewportSize = false;
    bool ScaleViewportSize = false;
    // Declared for form compatibility; nothing reads it.
    bool UseRealViewportSize = false;
    float ViewportScale = 0.0f;
    bool OverwriteColor() const { return FOverwriteColor; }
    virtual void SetOverwriteColor(bool AValue);
    TAlphaColor BackgroundColor() const { return FBackgroundColor; }
    virtual void SetBackgroundColor(TAlphaColor AValue);
    TBlendSettings Blendings{};

    // --- matrices ------------------------------------------------------------

    virtual TMatrix3D GetViewMatrix();
    virtual TMatrix3D GetViewMatrix(TContext3D* AContext);
    virtual TMatrix3D GetProjectionMatrix();
    virtual TMatrix3D GetProjectionMatrix(TContext3D* AContext);
    const TMatrix3D& PrevViewMatrix() const { return FPrevViewMatrix; }
    const TMatrix3D& PrevProjMatrix() const { return FPrevProjMatrix; }
    void MarkMatricesDirty()
    {
        FRecalcViewMatrix = true;
        FRecalcProjMatrix = true;
    }

    // --- controls ------------------------------------------------------------

    // Made on first use.
    TKorvaneManagedControls* AllowedControls();
    TKorvaneManagedControls* IgnoredControls();
    void SetAllowedControls(const TKorvaneManagedControls* AValue) { AllowedControls()->Assign(AValue); }
    void SetIgnoredControls(const TKorvaneManagedControls* AValue) { IgnoredControls()->Assign(AValue); }
    // Lists the control with its sub-meshes and owned 3D controls, recursively.
    virtual void AllowControl(TControl3D* ACtrl);
    virtual void IgnoreControl(TControl3D* ACtrl);
    virtual bool IsControlIgnored(TControl3D* ACtrl);

    // --- events and per-iteration hooks ----------------------------------------

    TRenderPassEvent OnBeginSetup, OnEndSetup, OnBeginRender, OnEndRender;
    virtual void BeginSetup(int ACount, TRenderPass* APass);
    virtual void EndSetup(int ACount, TRenderPass* APass);
    virtual void DoOnBeginRenderPass(TContext3D* AContext, int ACount, TRenderPass* APass);
    virtual void DoOnEndRenderPass(TContext3D* AContext, int ACount, TRenderPass* APass);

    void Notification(TComponent* AComponent, TOperation Operation) override;

    // Whether the controller is in the designer (failures are relaxed then).
    bool IsDesigning() const { return ComponentState().Contains(csDesigning); }

protected:
    virtual void InitDefaults();
    // What every rectangle pass starts with: type Post, method RectToFBO, a
    // renderer without G-buffer or internal passes, one iteration, and blend
    // entry 0 disabled with add and one/one for colour and alpha.
    void InitRectPassDefaults();
    virtual void SetupRenderPass(TRenderPass*) {}
    // The pass's material source, made by each concrete pass; the base has none.
    virtual TKorvaneRenderPassMaterialSource* CreateShader() { return nullptr; }
    virtual void CreateAllowedControls();
    virtual void CreateIgnoredControls();
    void BeforeDestruction() override;
    // The viewport up the parent chain (starting at the owner without a parent).
    IKorvaneViewport* FindPassViewport() const;

    // Ping-pong between two targets for passes whose iterations feed each
    // other, so that no draw samples the texture it draws into (undefined in
    // GL): attaches the renderer's composite texture (AToComposite) or a
    // scratch texture of its size to colour 0 of the renderer's default frame
    // buffer and answers it; nil without a renderer or context.
    TTexture* AttachIterationTarget(bool AToComposite);
    // The number of iterations the context runs in one execution (0 counts as 1).
    int RunIterations() const { return Iterations == 0 ? 1 : Iterations; }
    // The scratch target, made (or remade) at the composite texture's size.
    TTexture* PingPongTexture();

    TOwned<TVertexBuffer> FRectVBuffer;
    std::unique_ptr<TIndexBuffer> FRectIBuffer;
    TPoint FRectLastSize{0, 0};
    std::string FId;
    TRenderPassType FType = TRenderPassType::Pre;
    IKorvaneViewport* FViewport = nullptr;
    bool FOwnsRenderer = false;
    TRendererType FRendererType = TRendererType::ForwardRenderer;
    TRendererFlags FRendererFlags{TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum};
    TRenderer* FRenderer = nullptr;
    TRenderer* FPreviousRenderer = nullptr;
    bool FOverwriteColor = false;
    TAlphaColor FBackgroundColor = 0;
    TKorvaneRenderPassMaterialSource* FShader = nullptr;
    uint64_t FFrameCount = 0;
    bool FDoSkipRendering = false;
    TMatrix3D FPrevViewMatrix = TMatrix3D::Identity();
    TMatrix3D FPrevProjMatrix = TMatrix3D::Identity();
    TMatrix3D FViewMatrix = TMatrix3D::Identity();
    bool FRecalcViewMatrix = true;
    TMatrix3D FProjMatrix = TMatrix3D::Identity();
    bool FRecalcProjMatrix = true;
    TMatrix3D FTextureMatrix = TMatrix3D::Identity();
    TMatrix3D FBiasMatrix = TMatrix3D::Identity();
    TPoint FViewportSize{0, 0};
    TOwned<TKorvaneManagedControls> FAllowedControls;
    TOwned<TKorvaneManagedControls> FIgnoredControls;
    TOwned<TTexture> FPingPongTexture;

private:
    void ListControl(TKorvaneManagedControls* AList, TControl3D* ACtrl);
    void FreeRenderer();
};

// Every memory-barrier flag: what a pass sets before it reads what earlier
// passes wrote.
TMemoryBarrierFlags AllMemoryBarrierFlags();

// Maps clip coordinates (-1..1) to texture coordinates (0..1): 0.5 on the
// diagonal of the first three rows, 0.5 in the translation row.
TMatrix3D KorvaneBiasMatrix();

// The material source every render pass draws with; made with no component
// owner, for its pass.
class TKorvaneRenderPassMaterialSource : public TMaterialSource {
    KORVANE_CLASS(TKorvaneRenderPassMaterialSource, TMaterialSource)

    explicit TKorvaneRenderPassMaterialSource(TKorvaneRenderPassController* AOwnerPass);

    TKorvaneRenderPassController* OwnerPass() const { return FOwnerPass; }
    TKorvaneRenderPassController* InputPass() const { return FInputPass; }
    // On a change: stores it and calls DoPassesChanged.
    virtual void SetInputPass(TKorvaneRenderPassController* AValue);
    bool HasMaterial() const { return FHasMaterial; }
    void PassesChanged(TObject*) { DoPassesChanged(); }

    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    // Refreshes what the material takes from the input pass; each pass decides.
    virtual void DoPassesChanged() = 0;

    TKorvaneRenderPassController* FOwnerPass;
    TKorvaneRenderPassController* FInputPass = nullptr;
    bool FHasMaterial = false;
};

// The base material of the render passes. A pass material builds its two
// shaders once from its GLSL pieces (BuildPassShaders) and, on apply, hands the
// model-view-projection matrix and its textures to the context.
class TKorvaneRenderPassMaterial : public TCustomMaterial {
    KORVANE_CLASS(TKorvaneRenderPassMaterial, TCustomMaterial)

    explicit TKorvaneRenderPassMaterial(TKorvaneRenderPassMaterialSource* ASource);

    TKorvaneRenderPassMaterialSource* Source() const { return FSource; }
    // The composite texture of the renderer the pass follows: the pass's
    // previous renderer (or the viewport's main one), or what is attached to
    // it; the context's current texture otherwise.
    virtual TTexture* GetPreviousRenderTexture(TContext3D* AContext);

    // The common vertex input (a_Position, a_TexCoord0 passed on as TEX0).
    static const char* const PassVertexBody;
    // The same, also passing the untransformed position on as v_Position.
    static const char* const PassVertexBodyWithPosition;
    // The texture helpers every pass fragment shader declares.
    static const char* const PassTextureHelpers;

protected:
    // One sampler of the pixel shader and the texture it gets on apply.
    struct TPassTexture {
        std::string Name;
        TTexture* Texture = nullptr;
    };

    // Registers both shaders as "<AShaderName>-<address>.fvs/.fps" with
    // "#version 430", the declarations (each sampler as the uniform _<name>,
    // the output o_FragColor at location 0), the texture helpers, AFunctions and
    // AMain; the samplers of FTextures are the pixel shader's variables.
    // AVertexBody replaces the common vertex body.
    void BuildPassShaders(const std::string& AShaderName, const std::string& ADeclarations,
                          const std::string& AFunctions, const std::string& AMain,
                          const char* AVertexBody = PassVertexBody);
    // Registers the vertex shader as "<AShaderName>-<address>.fvs".
    void BuildPassVertexShader(const std::string& AShaderName, const char* AVertexBody = PassVertexBody);
    // Registers one pixel shader of the pass (same header, samplers and
    // helpers) as "<AShaderName>-<address>.fps"; AUniforms are its variables
    // besides the samplers (declared by ADeclarations). The shader manager
    // keeps the shader.
    TContextShader* BuildPassPixelShader(const std::string& AShaderName, const std::string& ADeclarations,
                                         const std::string& AFunctions, const std::string& AMain,
                                         const std::vector<TContextShaderVariable>& AUniforms = {});
    // The pixel shader's registered name.
    std::string PassShaderName(const std::string& AShaderName, const char* AExtension) const;
    // Sets the shaders, then ApplyPassVariables.
    void DoApply(TContext3D* AContext) override;
    // The owner pass's model-view-projection matrix and every texture of FTextures.
    void ApplyPassVariables(TContext3D* AContext);

    TKorvaneRenderPassMaterialSource* FSource;
    std::vector<TPassTexture> FTextures;
};

} // namespace korvane
