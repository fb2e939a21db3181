#include "Korvane.Context.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <typeinfo>

#include "Korvane.Context.Buffers.h"
#include "Korvane.Context.Extension.h"
#include "Korvane.Context.Shader.h"
#include "Korvane.Context.Texturing.h"
#include "Korvane.Controller.h"
#include "Platform.Bitmaps.h"
#include "Platform.IOUtils.h"
#include "Platform.Log.h"

namespace korvane {

float DefaultNearPlane = 0.1f;
float DefaultFarPlane = 10000.0f;
bool RaiseShaderCompileErrors = true;
TContextErrorHandler ContextErrorHandler = nullptr;
bool DesignTimeMode = false;
int ContextMaxDrawBuffers = 0;
std::atomic<int64_t> ContextDrawCalls{0};
std::atomic<int64_t> ContextDrawInstances{0};
std::atomic<int64_t> ContextDrawVertices{0};
std::atomic<int64_t> ContextDrawIndices{0};
bool DefaultBlendingAsked = false;
TBlendSetting DefaultBlendingValue = TBlendSetting::Create(false);

namespace {
// The extensions object lives from the first question to the unit's shut-down.
TOwned<TExtensions> GExtensions;
// Depth of BeginSceneRendering over all contexts, and the context it began with.
int GSceneNesting = 0;
TKorvaneContext* GCurrentContext = nullptr;
// Cache of the 32-bit index question: 0 not asked, 1 listed, 2 not listed.
uint8_t GIndexBufferAnswer = 0;
// The program cache (made with the first program; owns its programs) and the
// program last made current.
std::vector<TShaderProgram*>* GProgramCache = nullptr;
TShaderProgram* GCurrentProgram = nullptr;

} // namespace

namespace units {
void ContextInitialize()
{
    DefaultNearPlane = 0.1f;
    DefaultFarPlane = 10000.0f;
    RaiseShaderCompileErrors = true;
}
void ContextFinalize()
{
    TKorvaneContext::FreeProgramCache();
    GExtensions.reset();
}
} // namespace units

// ---------------------------------------------------------------------------
// TKorvaneContextClass: abstract until a platform class answers

void TKorvaneContextClass::AbstractCall(const char* AName) const
{
    throw EAbstractError(Format("Abstract Error: %s.%s", ClassName(), AName));
}

bool TKorvaneContextClass::Valid() const { AbstractCall("Valid"); }
void TKorvaneContextClass::CreateSharedContext() const { AbstractCall("CreateSharedContext"); }
void TKorvaneContextClass::DestroySharedContext() const { AbstractCall("DestroySharedContext"); }
int TKorvaneContextClass::PlatformDirectStateAccess() const { AbstractCall("PlatformDirectStateAccess"); }
void TKorvaneContextClass::PlatformSetTextureFiltering(TTexture*, TTextureStyles, uint32_t, uint32_t) const
{
    AbstractCall("PlatformSetTextureFiltering");
}
void TKorvaneContextClass::PlatformSetPixelState(int, int, int, int, int) const { AbstractCall("PlatformSetPixelState"); }
void TKorvaneContextClass::PlatformUnsetPixelState() const { AbstractCall("PlatformUnsetPixelState"); }
bool TKorvaneContextClass::PlatformIsContextAvailable() const { AbstractCall("PlatformIsContextAvailable"); }
std::string TKorvaneContextClass::PlatformGetVendorName() const { AbstractCall("PlatformGetVendorName"); }
std::string TKorvaneContextClass::PlatformGetRendererName() const { AbstractCall("PlatformGetRendererName"); }
std::string TKorvaneContextClass::PlatformGetVersion() const { AbstractCall("PlatformGetVersion"); }
std::string TKorvaneContextClass::PlatformGetExtensionString() const { AbstractCall("PlatformGetExtensionString"); }
bool TKorvaneContextClass::PlatformHasAnyErrors() const { AbstractCall("PlatformHasAnyErrors"); }
bool TKorvaneContextClass::PlatformHasAnyErrors(intptr_t&) const { AbstractCall("PlatformHasAnyErrors"); }
TContextShaderArch TKorvaneContextClass::PlatformGetShaderArch() const { AbstractCall("PlatformGetShaderArch"); }
int TKorvaneContextClass::PlatformMaxTextureSize() const { AbstractCall("PlatformMaxTextureSize"); }
int TKorvaneContextClass::PlatformMaxTexture3DSize() const { AbstractCall("PlatformMaxTexture3DSize"); }
int TKorvaneContextClass::PlatformTextureUnitCount() const { AbstractCall("PlatformTextureUnitCount"); }
int TKorvaneContextClass::PlatformMaxTextureImageUnits() const { AbstractCall("PlatformMaxTextureImageUnits"); }
int TKorvaneContextClass::PlatformMaxVertexShaderUniformBlocks() const
{
    AbstractCall("PlatformMaxVertexShaderUniformBlocks");
}
int TKorvaneContextClass::PlatformMaxFragmentShaderUniformBlocks() const
{
    AbstractCall("PlatformMaxFragmentShaderUniformBlocks");
}
int TKorvaneContextClass::PlatformMaxUniformBlockSize() const { AbstractCall("PlatformMaxUniformBlockSize"); }
int TKorvaneContextClass::PlatformMaxDrawBuffers() const { AbstractCall("PlatformMaxDrawBuffers"); }
int TKorvaneContextClass::PlatformMaxLightCount() const { AbstractCall("PlatformMaxLightCount"); }
TContextStyles TKorvaneContextClass::PlatformStyle() const { AbstractCall("PlatformStyle"); }
bool TKorvaneContextClass::PlatformTextureCompressionAllowed() const
{
    AbstractCall("PlatformTextureCompressionAllowed");
}

TTexture* TKorvaneContextClass::DoBitmapToTexture(TBitmap* ABitmap) const
{
    if (!ABitmap) return nullptr;
    return InitializeObject(TKorvaneTexture::Create(), [&](TKorvaneTexture* texture) { texture->Assign(ABitmap); });
}

uintptr_t TKorvaneContextClass::BuildShader(int AType, const std::vector<uint8_t>& ACode) const
{
    if (!Valid()) throw Exception("TKorvaneContext.CreateFromTexture failed - invalid context");
    if (!TKorvaneContext::IsContextAvailable()) return 0;
    const bool designing = TKorvaneContext::IsInDesignTime();
    const uintptr_t handle = InstalledShaderProgramClass().BuildShader(AType, ACode, designing);
    if (TKorvaneContext::HasAnyErrors())
        RaiseShaderCompileException(nullptr, designing, SCannotCreateShader, ClassName(), "",
                                    std::string(ACode.begin(), ACode.end()));
    return handle;
}

TContextStyles TKorvaneContextClass::Style() const { return TKorvaneContext::Style(); }
int TKorvaneContextClass::MaxLightCount() const { return TKorvaneContext::MaxLightCount(); }
int TKorvaneContextClass::MaxTextureSize() const { return TKorvaneContext::MaxTextureSize(); }
int TKorvaneContextClass::TextureUnitCount() const { return TKorvaneContext::TextureUnitCount(); }
TPixelFormat TKorvaneContextClass::PixelFormat() const { return TKorvaneContext::PixelFormat(); }

// ---------------------------------------------------------------------------
// TKorvaneContext

TClass TKorvaneContext::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info = *new TClassInfo<TKorvaneContext, TKorvaneContextClass>("Korvane.Context");
    return &info;
}

void TKorvaneContext::CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil)
{
    TContext3D::CreateFromTexture(ATexture, AMultisample, ADepthStencil);
    FSmoothTargets = {};
    if (!KorvaneClassType().Valid()) throw Exception("TKorvaneContext.CreateFromTexture failed - invalid context");
    FPasses = MakeOwned<TRenderPasses>(this);
    CreateBuffer();
}

void TKorvaneContext::InitContext()
{
    TContext3D::InitContext();
    FNearPlane = DefaultNearPlane;
    FFarPlane = DefaultFarPlane;
    FShaderLights.clear();
}

// The owned objects are all freed by BeforeDestruction already.
TKorvaneContext::~TKorvaneContext() = default;

void TKorvaneContext::BeforeDestruction()
{
    FFBOStack.clear();
    FRenderPassStack.clear();
    FCurrentPass = nullptr;
    FIntermediatePasses.clear();
    FPasses.reset();
    FreeInstanceBuffer();
    FShaderLights.clear();
    if (GCurrentContext == this) GCurrentContext = nullptr;
    // The frame buffers go last, through DoFreeBuffer.
    TContext3D::BeforeDestruction();
}

void TKorvaneContext::DoFreeBuffer()
{
    // The stack must not keep frame buffers that are about to go.
    std::erase_if(FFBOStack, [this](TFrameBufferObject* f) {
        return f == FDefaultMSFrameBuf.get() || f == FDefaultFrameBuf.get() || f == FTranslucentBuf.get();
    });
    FDefaultMSFrameBuf.reset();
    FDefaultFrameBuf.reset();
    FTranslucentBuf.reset();
}

void TKorvaneContext::DoResize()
{
    // A texture context keeps rendering into its own texture: the texture
    // takes the new size and goes back on colour 0, the depth buffer is made
    // again at that size, and a translucent buffer that shared the old depth
    // shares the new one. (Resizing the frame buffer itself would put a colour
    // render buffer in the texture's place.)
    if (!KorvaneClassType().Valid() || !IsContextAvailable()) return;
    TTexture* texture = Texture();
    if (!texture || !FDefaultFrameBuf || Width() <= 0 || Height() <= 0) return;
    if (texture->Width() != Width() || texture->Height() != Height()) {
        FDefaultFrameBuf->DetachTexture(texture);
        texture->SetSize(Width(), Height());
        FDefaultFrameBuf->AttachTexture(this, texture, TRenderTarget::Color_0);
    }
    if (FDefaultFrameBuf->OwnsDepthBuffer() || DepthStencil())
        FDefaultFrameBuf->CreateDepthBuffer(Width(), Height());
    if (FTranslucentBuf && FTranslucentDepthLinked)
        FTranslucentBuf->AttachDepthBuffer(FDefaultFrameBuf->DepthBuffer(), TPoint(Width(), Height()));
}

TKorvaneContext* TKorvaneContext::CurrentContext() { return GCurrentContext; }

// ---------------------------------------------------------------------------
// Scenes

bool TKorvaneContext::DoBeginScene()
{
    if (!KorvaneClassType().Valid()) return false;
    StorePreviousContextSize();
    const TPoint size = CurrentTargetSize();
    SetContextSize(0, 0, size.X, size.Y);
    intptr_t code = 0;
    if (HasAnyErrors(code)) RaiseContextExceptionFmt(this, "cannot begin rendering scene for %s: %d", ClassName(), code);
    if (!CanBeginScene()) return false;
    const bool result = TContext3D::DoBeginScene();
    if (FFBOStack.empty()) {
        BindDefaultBuffer();
        if (!FFBOStack.empty()) FDefaultBufferFallbackBind = true;
    }
    return result;
}

void TKorvaneContext::DoEndScene()
{
    if (!KorvaneClassType().Valid()) return;
    SetContextSize(FOldViewport);
    intptr_t code = 0;
    if (HasAnyErrors(code)) RaiseContextExceptionFmt(this, "cannot end rendering scene for %s: %d", ClassName(), code);
    if (FDefaultBufferFallbackBind) {
        if (!FFBOStack.empty()) UnbindDefaultBuffer();
        FDefaultBufferFallbackBind = false;
    }
    TContext3D::DoEndScene();
}

bool TKorvaneContext::BeginSceneRendering()
{
    TCanvas::Lock();
    ++GSceneNesting;
    bool pushed = false;
    try {
        if (BeginSceneCount() != 0) {
            const bool result = BeginSceneCount() > 0;
            if (result) IncBeginSceneCount();
            else {
                --GSceneNesting;
                TCanvas::Unlock();
            }
            return result;
        }
        if (SceneCount() > 1) {
            PushContextStates();
            pushed = true;
        }
        GCurrentContext = this;
        const bool result = DoBeginScene();
        if (!result) {
            // Nothing needs ending: undo the begin.
            if (pushed) PopContextStates();
            if (--GSceneNesting == 0) GCurrentContext = nullptr;
            TCanvas::Unlock();
            return false;
        }
        FScenePushedStates = pushed;
        IncBeginSceneCount();
        return true;
    } catch (...) {
        if (pushed) PopContextStates();
        if (--GSceneNesting == 0) GCurrentContext = nullptr;
        TCanvas::Unlock();
        throw;
    }
}

void TKorvaneContext::EndSceneRendering()
{
    struct TRelease {
        ~TRelease()
        {
            if (GSceneNesting > 0 && --GSceneNesting == 0) GCurrentContext = nullptr;
            TCanvas::Unlock();
        }
    } release;
    if (BeginSceneCount() == 1) {
        try {
            DoEndScene();
        } catch (...) {
            DecBeginSceneCount();
            if (FScenePushedStates) {
                FScenePushedStates = false;
                PopContextStates();
            }
            throw;
        }
        if (FScenePushedStates) {
            FScenePushedStates = false;
            PopContextStates();
        }
    }
    if (BeginSceneCount() > 0) DecBeginSceneCount();
}

// ---------------------------------------------------------------------------
// Frame buffers

void TKorvaneContext::PushFBO(TFrameBufferObject* AFBO) { FFBOStack.push_back(AFBO); }

TFrameBufferObject* TKorvaneContext::PopFBO()
{
    if (FFBOStack.empty()) return nullptr;
    TFrameBufferObject* top = FFBOStack.back();
    FFBOStack.pop_back();
    return top;
}

TFrameBufferObject* TKorvaneContext::GetCurrentlyBoundBuffer() const
{
    return FFBOStack.empty() ? nullptr : FFBOStack.back();
}

void TKorvaneContext::BindDefaultBuffer()
{
    if (FDefaultMSFrameBuf) FDefaultMSFrameBuf->Bind(this);
    else if (FDefaultFrameBuf) FDefaultFrameBuf->Bind(this);
}

void TKorvaneContext::UnbindDefaultBuffer()
{
    if (FDefaultMSFrameBuf) FDefaultMSFrameBuf->Unbind(this);
    else if (FDefaultFrameBuf) FDefaultFrameBuf->Unbind(this);
}

TTexture* TKorvaneContext::GetCurrentTexture() const
{
    if (const TFrameBufferObject* top = GetCurrentlyBoundBuffer())
        return top->GetTextureByRenderTarget(TRenderTarget::Color_0);
    return Texture();
}

TTexture* TKorvaneContext::GetDefaultTexture() const
{
    return FDefaultFrameBuf ? FDefaultFrameBuf->GetTextureByRenderTarget(TRenderTarget::Color_0) : nullptr;
}

void TKorvaneContext::AttachTextureToDefaultBuffer(TTexture* ATexture, TRenderTarget ATarget)
{
    if (!ATexture || !FDefaultFrameBuf) return;
    if (ATexture->Handle() == 0) ATexture->Initialize();
    FDefaultFrameBuf->AttachTexture(this, ATexture, ATarget);
}

void TKorvaneContext::AttachTextureToTranslucentBuffer(TTexture* ATexture, TRenderTarget ATarget)
{
    if (!ATexture || !FTranslucentBuf) return;
    if (ATexture->Handle() == 0) ATexture->Initialize();
    FTranslucentBuf->AttachTexture(this, ATexture, ATarget);
}

void TKorvaneContext::LinkDepthBufferToTranslucentBuffer()
{
    TFrameBufferObject* source = FDefaultMSFrameBuf ? FDefaultMSFrameBuf.get() : FDefaultFrameBuf.get();
    if (!FTranslucentBuf || !source) return;
    FTranslucentBuf->AttachDepthBuffer(source->DepthBuffer(), CurrentTargetSize());
    FTranslucentDepthLinked = true;
}

TPoint TKorvaneContext::CurrentTargetSize() const
{
    if (const TTexture* texture = GetCurrentTexture()) return TPoint(texture->Width(), texture->Height());
    return TPoint(static_cast<int32_t>(std::lround(double(Width()) * Scale())),
                  static_cast<int32_t>(std::lround(double(Height()) * Scale())));
}

// ---------------------------------------------------------------------------
// Render passes

void TKorvaneContext::BeginRenderPass(TRenderPass* APass)
{
    FRenderPassStack.push_back(APass);
    FCurrentPass = APass;
}

void TKorvaneContext::EndRenderPass()
{
    if (!FRenderPassStack.empty()) FRenderPassStack.pop_back();
    FCurrentPass = FRenderPassStack.empty() ? nullptr : FRenderPassStack.back();
}

void TKorvaneContext::AddIntermediatePass(TRenderPass* APass)
{
    if (std::find(FIntermediatePasses.begin(), FIntermediatePasses.end(), APass) == FIntermediatePasses.end())
        FIntermediatePasses.push_back(APass);
}

void TKorvaneContext::RemoveIntermediatePass(TRenderPass* APass)
{
    std::erase(FIntermediatePasses, APass);
}

void TKorvaneContext::ExecuteRenderPass(TRenderPass* APass, PRenderContext ARenderContext)
{
    if (!APass || !APass->OnBeginRendering || !ARenderContext) return;
    auto* controller = dynamic_cast<TKorvaneRenderPassController*>(APass->Controller());
    if (!controller) throw EInvalidCast();
    const TRenderListProc& proc = controller->RenderProc == TRenderPassRenderingProc::ListRendering
                                      ? ARenderContext->ListRenderingProc
                                      : ARenderContext->DefaultRenderingProc;
    if (!APass->BeginScene()) return;
    try {
        int iterations = APass->GetIterations();
        if (iterations == 0) iterations = 1;
        for (int i = 0; i < iterations; ++i) {
            APass->OnBeginRendering(this, i, APass);
            if (controller->Method == TRenderPassMethod::RenderListToFBO) {
                if (proc) proc(ARenderContext);
            } else {
                controller->RenderToContext(this, controller->GetOutputTexture(), TRect(0, 0, Width(), Height()),
                                            TPoint(0, 0));
            }
            if (APass->OnEndRendering) APass->OnEndRendering(this, i, APass);
        }
    } catch (...) {
        APass->EndScene();
        throw;
    }
    APass->EndScene();
}

bool TKorvaneContext::ExecuteRenderPasses(TRenderPassType AType, PRenderContext ARenderContext)
{
    if (!ARenderContext || !FPasses || FPasses->Count() == 0) return false;
    std::vector<TRenderPass*> passes;
    if (AType == TRenderPassType::Pre) passes = FPasses->GetPreProcessingPasses();
    else if (AType == TRenderPassType::Post) passes = FPasses->GetPostProcessingPasses();
    for (TRenderPass* pass : passes) ExecuteRenderPass(pass, ARenderContext);
    return true;
}

bool TKorvaneContext::PreProcessing(PRenderContext ARenderContext)
{
    return ExecuteRenderPasses(TRenderPassType::Pre, ARenderContext);
}

bool TKorvaneContext::PostProcessing(PRenderContext ARenderContext)
{
    return ExecuteRenderPasses(TRenderPassType::Post, ARenderContext);
}

// ---------------------------------------------------------------------------
// Drawing

void TKorvaneContext::DoDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                       const TVertexDeclaration& VertexDeclaration, int VertexSize,
                                       int VertexCount, int IndexSize, int IndexCount)
{
    try {
        TMaterial* passMaterial = nullptr;
        bool passMaterialApplied = false;
        if (TRenderPass* pass = FCurrentPass) {
            if (!pass->IsPrimitivesKindSupported(AKind)) return;
            if (TMaterialSource* source = pass->GetControllerShader()) {
                passMaterial = TMaterialSource::ValidMaterial(source);
                if (pass->OnApplyMaterial) pass->OnApplyMaterial(nullptr, passMaterial);
                passMaterialApplied = true;
                ApplyMaterial(passMaterial);
            }
        }
        try {
            TContext3D::DoDrawPrimitives(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount,
                                         IndexSize, IndexCount);
            for (TRenderPass* pass : FIntermediatePasses) {
                TMaterialSource* source = pass ? pass->GetControllerShader() : nullptr;
                if (!source) continue;
                TMaterial* material = TMaterialSource::ValidMaterial(source);
                ApplyMaterial(material);
                try {
                    TContext3D::DoDrawPrimitives(AKind, Vertices, Indices, VertexDeclaration, VertexSize,
                                                 VertexCount, IndexSize, IndexCount);
                } catch (...) {
                    ResetMaterial(material);
                    throw;
                }
                ResetMaterial(material);
            }
        } catch (...) {
            if (passMaterialApplied) ResetMaterial(passMaterial);
            throw;
        }
        if (passMaterialApplied) ResetMaterial(passMaterial);
        // One registry look-up for both questions of every draw.
        const TKorvaneContextClass& platform = PlatformClass();
        if (platform.PlatformHasAnyErrors()) RaiseContextExceptionFmt(this, SErrorInContextMethod, "DoDrawPrimitives");
        // The check above read every pending error.
        if (platform.PlatformIsContextAvailable()) InstalledShaderProgramClass().ActivateDefaultAfterErrorCheck();
    } catch (const Exception& e) {
        if (!DesignTimeMode) throw;
        Log::d("<ERROR> %s.DoDrawPrimitives: %s", ClassName(), e.Message());
    }
}

void TKorvaneContext::DirectDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                           const TVertexDeclaration& VertexDeclaration, int VertexSize,
                                           int VertexCount, int IndexSize, int IndexCount)
{
    DoDrawPrimitives(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount, IndexSize, IndexCount);
}

void TKorvaneContext::DirectDrawPrimitives(TKorvanePrimitivesKind AKind, const void* Vertices, const void* Indices,
                                           const TVertexDeclaration& VertexDeclaration, int VertexSize,
                                           int VertexCount, int IndexSize, int IndexCount)
{
    DoDrawPrimitives(static_cast<TPrimitivesKind>(AKind), Vertices, Indices, VertexDeclaration, VertexSize,
                     VertexCount, IndexSize, IndexCount);
}

void TKorvaneContext::DoDirectDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                             const TVertexDeclaration& VertexDeclaration, int VertexSize,
                                             int VertexCount, int IndexSize, int IndexCount)
{
    DoDrawPrimitives(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount, IndexSize, IndexCount);
}

void TKorvaneContext::ApplyMaterial(TMaterial* AMaterial) { ApplyMaterialWithMatrices(AMaterial); }

void TKorvaneContext::ResetMaterial(TMaterial* AMaterial)
{
    if (AMaterial) AMaterial->Reset(this);
}

TIndexBufferSupport TKorvaneContext::GetIndexBufferSupport()
{
    // The answer of the extension list is kept, but every GL 4.3 context draws 32-bit indices.
    if (GIndexBufferAnswer == 0 && IsContextAvailable())
        GIndexBufferAnswer = HasExtension("GL_OES_element_index_uint") ? 1 : 2;
    return TIndexBufferSupport::Int32;
}

// ---------------------------------------------------------------------------
// The program cache

namespace {
bool HasHandle(const TContextShader* AShader) { return AShader && AShader->Handle() != 0; }
} // namespace

TShaderProgram* TKorvaneContext::GetCurrentProgram() { return GCurrentProgram; }

TKorvaneContext* TKorvaneContext::Cast(TContext3D* AContext)
{
    if (!AContext) return nullptr;
    // Any thread may ask; a type seen by another thread is as good as one's own.
    static constinit std::atomic<const std::type_info*> known{nullptr};
    const std::type_info& type = typeid(*AContext);
    if (&type == known.load(std::memory_order_relaxed)) return static_cast<TKorvaneContext*>(AContext);
    auto* result = dynamic_cast<TKorvaneContext*>(AContext);
    if (result) known.store(&type, std::memory_order_relaxed);
    return result;
}

void TKorvaneContext::DisposeOnNotify(TShaderProgram* AProgram)
{
    if (!AProgram) return;
    // A current program that is freed must not be handed out afterwards.
    if (GCurrentProgram == AProgram) GCurrentProgram = nullptr;
    AProgram->Free();
}

namespace {
// The cached program of two stages that have handles, without asking for the context.
TShaderProgram* CachedProgram(const TContextShader* VS, const TContextShader* PS)
{
    if (!GProgramCache) return nullptr;
    // Stage pairs are unique in the cache, and the current program is in it:
    // a material drawn again and again finds its program without the walk.
    if (TShaderProgram* p = GCurrentProgram; p && p->VS() == VS->Handle() && p->PS() == PS->Handle()) return p;
    for (TShaderProgram* p : *GProgramCache)
        if (p->VS() == VS->Handle() && p->PS() == PS->Handle()) return p;
    return nullptr;
}
} // namespace

TShaderProgram* TKorvaneContext::GetProgram(TContextShader* VS, TContextShader* PS)
{
    if (!IsContextAvailable() || !HasHandle(VS) || !HasHandle(PS)) return nullptr;
    return CachedProgram(VS, PS);
}

void TKorvaneContext::RemoveProgram(TShaderProgram* AShaderProgram)
{
    if (!GProgramCache || !AShaderProgram) return;
    const auto it = std::find(GProgramCache->begin(), GProgramCache->end(), AShaderProgram);
    if (it == GProgramCache->end()) return;
    GProgramCache->erase(it);
    DisposeOnNotify(AShaderProgram);
}

void TKorvaneContext::RemoveProgram(TContextShader* VS, TContextShader* PS)
{
    if (TShaderProgram* p = GetProgram(VS, PS)) RemoveProgram(p);
}

void TKorvaneContext::RemoveProgramsOfShader(uintptr_t AHandle)
{
    // 0 stands for an absent stage, not for a compiled one.
    if (!GProgramCache || AHandle == 0) return;
    std::vector<TShaderProgram*> removed;
    std::erase_if(*GProgramCache, [&](TShaderProgram* p) {
        const bool uses = p->VS() == AHandle || p->GS() == AHandle || p->TSE() == AHandle || p->TSC() == AHandle ||
                          p->PS() == AHandle;
        if (uses) removed.push_back(p);
        return uses;
    });
    for (TShaderProgram* p : removed) DisposeOnNotify(p);
}

void TKorvaneContext::FreeProgramCache()
{
    if (!GProgramCache) return;
    std::vector<TShaderProgram*>* cache = GProgramCache;
    GProgramCache = nullptr;
    GCurrentProgram = nullptr;
    // Runs at shut-down too: one program that cannot be freed must not keep
    // the others alive.
    for (TShaderProgram* p : *cache) {
        try {
            DisposeOnNotify(p);
        } catch (const Exception& e) {
            Log::d("<ERROR> TKorvaneContext.FreeProgramCache: %s", e.Message());
        }
    }
    delete cache;
}

void TKorvaneContext::SetShaders(TContextShader* VS, TContextShader* GS, TContextShader* TES, TContextShader* TCS,
                                 TContextShader* PS)
{
    if (!VS || !PS) return;
    for (TContextShader* s : {VS, GS, TES, TCS, PS})
        if (s && s->Handle() == 0) TContextManager::InitializeShader(s);
    if (IsContextAvailable()) UseProgram(VS, GS, TES, TCS, PS);
}

void TKorvaneContext::DoSetShaders(TContextShader* VS, TContextShader* PS)
{
    // UseProgram asks whether the context is available first thing.
    UseProgram(VS, nullptr, nullptr, nullptr, PS);
}

TShaderProgram* TKorvaneContext::AcquireProgram(TContextShader* VS, TContextShader* GS, TContextShader* TES,
                                                TContextShader* TCS, TContextShader* PS)
{
    if (!IsContextAvailable() || !HasHandle(VS) || !HasHandle(PS)) return nullptr;
    if (TShaderProgram* cached = GetProgram(VS, PS)) return cached;
    TShaderProgram* program = InstalledShaderProgramClass().Create(ClassType(), VS, GS, TES, TCS, PS);
    if (!GProgramCache) GProgramCache = new std::vector<TShaderProgram*>();
    try {
        GProgramCache->push_back(program);
    } catch (...) {
        program->Free();
        throw;
    }
    if (HasAnyErrors()) RaiseContextExceptionFmt(this, SCannotActivateShaderProgram, ClassName());
    return program;
}

void TKorvaneContext::UseProgram(TContextShader* VS, TContextShader* GS, TContextShader* TES, TContextShader* TCS,
                                 TContextShader* PS)
{
    if (!IsContextAvailable() || !HasHandle(VS) || !HasHandle(PS)) return;
    TShaderProgram* program = CachedProgram(VS, PS);
    if (!program) program = AcquireProgram(VS, GS, TES, TCS, PS);
    if (program) {
        GCurrentProgram = program;
        program->Use();
    } else {
        GCurrentProgram = nullptr;
        InstalledShaderProgramClass().ActivateDefault();
    }
}

int TKorvaneContext::GetTextureUnitIndex(const std::string& AName)
{
    constexpr std::string_view prefix = "texture";
    if (AName.size() <= prefix.size() || !SameText(std::string_view(AName).substr(0, prefix.size()), prefix)) return 0;
    const std::string_view number = std::string_view(AName).substr(prefix.size());
    // Digits only: no sign, blanks or hexadecimal forms.
    if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) return 0;
    int result = 0;
    return TryStrToInt(number, result) ? result : 0;
}

void TKorvaneContext::LogProgramState(const std::string& AName, TObject* AProgram, TObject* ATexture, int AIndex)
{
    // An object's hash code is its address folded to 32 bits.
    auto hash = [](const TObject* o) {
        const auto a = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(o));
        return static_cast<int32_t>(static_cast<uint32_t>(a ^ (a >> 32)));
    };
    if (AProgram && ATexture)
        Log::d("%s - Program = %d, Texture = %d, Index = %d", AName, hash(AProgram), hash(ATexture), AIndex);
    else if (AProgram)
        Log::d("%s - Program = %d, Texture = ?, Index = %d", AName, hash(AProgram), AIndex);
    else if (ATexture)
        Log::d("%s - Program = ?, Texture = %d, Index = %d", AName, hash(ATexture), AIndex);
    else
        Log::d("%s - Program = ?, Texture = ?, Index = %d", AName, AIndex);
}

// ---------------------------------------------------------------------------
// Shader variables

const TContextShaderVariable* TKorvaneContext::FindShaderVariable(const std::string& AName)
{
    if (!GCurrentProgram || !IsContextAvailable()) return nullptr;
    return GCurrentProgram->FindVariable(AName);
}

void TKorvaneContext::CheckShaderVariableErrors(const std::string& AName)
{
    if (HasAnyErrors()) RaiseContextExceptionFmt(this, SCannotFindShaderVariable, AName);
}

void TKorvaneContext::LogSwallowedFailure(const char* AOperation, const Exception& AError)
{
    Log::d("<ERROR> %s.%s: %s", ClassName(), AOperation, AError.Message());
}

void TKorvaneContext::SetShaderVariable(const std::string& AName, const TMatrix3D& AMatrix, bool AAsMat4)
{
    if (AAsMat4) DoSetShaderVariableMat4(AName, AMatrix);
    else DoSetShaderVariable(AName, AMatrix);
}

void TKorvaneContext::DoSetShaderVariable(const std::string& AName, const TMatrix3D& AMatrix)
{
    const TMatrix3D t = AMatrix.Transpose();
    const TVector3D rows[4] = {{t.m11, t.m12, t.m13, t.m14},
                               {t.m21, t.m22, t.m23, t.m24},
                               {t.m31, t.m32, t.m33, t.m34},
                               {t.m41, t.m42, t.m43, t.m44}};
    DoSetShaderVariable(AName, std::span<const TVector3D>(rows));
}

void TKorvaneContext::DoSetShaderVariableArrayOfStruct(const std::string& AName, const TShaderTypeInfo& AType,
                                                       int ACount, const void* AData)
{
    GuardShaderVariable("DoSetShaderVariableArrayOfStruct", [&] {
        if (!IsContextAvailable() || !GCurrentProgram || ACount <= 0) return;
        if (!AData) throw Exception("TKorvaneContext.DoSetShaderVariableArrayOfStruct - no structure data");
        TRecordArrayUniforms& uniforms = GCurrentProgram->RecordArrayUniforms(AName, AType, ACount);
        const bool making = !uniforms.Complete;
        size_t next = 0;
        try {
            SetStructFields(uniforms, next, AName, AType, ACount, static_cast<const uint8_t*>(AData));
        } catch (...) {
            // Names made up to a failure are not the whole list.
            if (making) uniforms.Names.clear(), uniforms.Variables.clear();
            throw;
        }
        uniforms.Complete = true;
        CheckShaderVariableErrors(AName);
    });
}

namespace {
// The value of an integer, Boolean or enumeration of ASize bytes at AData.
int64_t ReadOrdinal(const uint8_t* AData, size_t ASize, bool ASigned)
{
    switch (ASize) {
    case 1: {
        uint8_t v;
        std::memcpy(&v, AData, 1);
        return ASigned ? int64_t(int8_t(v)) : int64_t(v);
    }
    case 2: {
        uint16_t v;
        std::memcpy(&v, AData, 2);
        return ASigned ? int64_t(int16_t(v)) : int64_t(v);
    }
    case 4: {
        uint32_t v;
        std::memcpy(&v, AData, 4);
        return ASigned ? int64_t(int32_t(v)) : int64_t(v);
    }
    case 8: {
        int64_t v;
        std::memcpy(&v, AData, 8);
        return v;
    }
    default: throw Exception(Format("an ordinal value of %d bytes cannot be read", static_cast<int64_t>(ASize)));
    }
}

template <typename T>
T ReadAs(const uint8_t* AData)
{
    T v;
    std::memcpy(&v, AData, sizeof(T));
    return v;
}
} // namespace

void TKorvaneContext::SetStructFields(TRecordArrayUniforms& AUniforms, size_t& ANext, const std::string& AName,
                                      const TShaderTypeInfo& AType, int ACount, const uint8_t* AData)
{
    if (ACount <= 0) return;
    if (AType.Kind != TShaderTypeKind::Record)
        throw Exception("TKorvaneContext.DoSetShaderVariableArrayOfStruct - structure type not found by RTTI!");
    if (AType.Fields.empty())
        throw Exception("TKorvaneContext.DoSetShaderVariableArrayOfStruct - structure fields missing");
    for (int i = 0; i < ACount; ++i) {
        for (const TShaderRecordField& field : AType.Fields) {
            // The names are made on the first set of the array only; later sets
            // take them, and their variables, from the program's list.
            const size_t at = ANext++;
            if (at == AUniforms.Names.size()) {
                AUniforms.Names.push_back(Format("%s[%d].%s", AName, i, field.Name));
                AUniforms.Variables.push_back(GCurrentProgram->FindVariable(AUniforms.Names.back()));
            }
            const std::string& name = AUniforms.Names[at];
            const TContextShaderVariable* variable = AUniforms.Variables[at];
            auto setInts = [&](std::span<const int32_t> AValue) {
                if (variable)
                    GuardShaderVariable("DoSetShaderVariableInt", [&] { SetVariableInts(*variable, name, AValue); });
            };
            auto setVectors = [&](std::span<const TVector3D> AValue) {
                if (variable)
                    GuardShaderVariable("DoSetShaderVariable", [&] { SetVariableVectors(*variable, name, AValue); });
            };
            const TShaderTypeInfo* type = field.Type;
            const uint8_t* value = AData + field.Offset;
            const TShaderTypeKind kind = type ? type->Kind : TShaderTypeKind::Unsupported;
            // A description whose field lies outside its record would read beyond the data.
            if (type && (field.Offset > AType.Size || type->Size > AType.Size - field.Offset))
                throw Exception(Format("structure field \"%s\" lies outside its structure of %d bytes", name,
                                       static_cast<int64_t>(AType.Size)));
            switch (kind) {
            case TShaderTypeKind::Integer:
            case TShaderTypeKind::Enumeration: {
                const int32_t v[1] = {static_cast<int32_t>(ReadOrdinal(value, type->Size, type->Signed))};
                setInts(v);
                break;
            }
            case TShaderTypeKind::Boolean: {
                const int32_t v[1] = {ReadOrdinal(value, type->Size, false) != 0 ? 1 : 0};
                setInts(v);
                break;
            }
            case TShaderTypeKind::Float: {
                const double f = type->Size == sizeof(double) ? ReadAs<double>(value) : ReadAs<float>(value);
                const TVector3D v[1] = {{static_cast<float>(f), 0, 0, 0}};
                setVectors(v);
                break;
            }
            case TShaderTypeKind::Array:
                if (type->ElementType)
                    SetStructFields(AUniforms, ANext, name, *type->ElementType, type->ElementCount, value);
                else throw Exception("TKorvaneContext.DoSetShaderVariableArrayOfStruct - structure type not found by RTTI!");
                break;
            case TShaderTypeKind::PointF: {
                const auto p = ReadAs<TPointF>(value);
                const TVector3D v[1] = {{p.X, p.Y, 0, 0}};
                setVectors(v);
                break;
            }
            case TShaderTypeKind::Point3D: {
                const auto p = ReadAs<TPoint3D>(value);
                const TVector3D v[1] = {{p.X, p.Y, p.Z, 0}};
                setVectors(v);
                break;
            }
            case TShaderTypeKind::Vector3D: {
                const TVector3D v[1] = {ReadAs<TVector3D>(value)};
                setVectors(v);
                break;
            }
            case TShaderTypeKind::AlphaColorF: {
                const auto c = ReadAs<TAlphaColorF>(value);
                const TVector3D v[1] = {{c.R, c.G, c.B, c.A}};
                setVectors(v);
                break;
            }
            case TShaderTypeKind::Matrix3D:
                if (variable)
                    GuardShaderVariable("DoSetShaderVariableMat4",
                                        [&] { SetVariableMat4(*variable, name, ReadAs<TMatrix3D>(value)); });
                break;
            default:
                throw Exception(Format("structure field \"%s\" - type not supported in shader language!", name));
            }
        }
        AData += AType.Size;
    }
}

// ---------------------------------------------------------------------------
// Lights

int TKorvaneContext::AddLight(const TLightDescription& ALight)
{
    Lights().push_back(ALight);
    FShaderLights.push_back(TKorvaneShaderLight::Create(ALight));
    return static_cast<int>(FShaderLights.size()) - 1;
}

int TKorvaneContext::AddLight(const TKorvaneShaderLight& ALight)
{
    Lights().push_back(ALight.ToLightDescription());
    FShaderLights.push_back(ALight);
    return static_cast<int>(FShaderLights.size()) - 1;
}

void TKorvaneContext::RemoveLight(int AIdx)
{
    if (AIdx < 0 || AIdx >= static_cast<int>(FShaderLights.size()) || AIdx >= static_cast<int>(Lights().size()))
        throw EListError(Format("List index out of bounds (%d)", AIdx));
    Lights().erase(Lights().begin() + AIdx);
    FShaderLights.erase(FShaderLights.begin() + AIdx);
}

void TKorvaneContext::ClearLights()
{
    Lights().clear();
    FShaderLights.clear();
}

// ---------------------------------------------------------------------------
// Instancing

void TKorvaneContext::SetInstances(int AInstances, const void* AData)
{
    if (AInstances >= 1 && !AData)
        throw EArgumentException(Format("failed to set %d instances - no instance matrices", AInstances));
    FInstanceCount = AInstances;
    if (AInstances < 1) return;
    CreateInstanceBuffer();
    PushBound(FInstanceVAO.get(), AData, static_cast<intptr_t>(AInstances) * static_cast<intptr_t>(sizeof(TMatrix3D)));
}

void TKorvaneContext::CreateInstanceBuffer()
{
    if (!FInstanceVAO) {
        FInstanceVAO.reset(
            InstalledBufferObjectClass().Create(TBufferUsage::StaticDraw, TBufferBindingTarget::_Array, this));
        FInstanceVAO->SetLabel("TKorvaneContext.Instances");
    }
}

void TKorvaneContext::FreeInstanceBuffer() { FInstanceVAO.reset(); }

// ---------------------------------------------------------------------------
// Blending

int TKorvaneContext::EffectiveDrawBuffers()
{
    return std::clamp(ContextMaxDrawBuffers, 0, static_cast<int>(std::tuple_size_v<TBlendSettings>));
}

TBlendSettings TKorvaneContext::GetBlendings()
{
    if (!DefaultBlendingAsked) SetBlendingByIndex(0, GetDefaultBlending());
    return FBlendingBuffers;
}

void TKorvaneContext::SetBlendings(const TBlendSettings& AValue)
{
    // A copy: AValue may be the table itself.
    const TBlendSettings value = AValue;
    FBlendingBuffers = {};
    for (size_t i = 0; i < value.size(); ++i) SetBlendingByIndex(static_cast<int>(i), value[i]);
}

TBlendSetting TKorvaneContext::GetBlendingByIndex(int AIndex)
{
    if (AIndex >= 0 && AIndex < EffectiveDrawBuffers()) return FBlendingBuffers[static_cast<size_t>(AIndex)];
    return TBlendSetting::Create(false);
}

// ---------------------------------------------------------------------------
// Matrices, boundaries, clip planes

TMatrix3D TKorvaneContext::GetCurrentProjectionMatrix()
{
    if (!FRecalcProjectionMatrix) return FProjectionMatrix;
    const double aspect = Height() == 0 ? 1.0 : double(Width()) / double(Height());
    TMatrix3D m = TMatrix3D::CreatePerspectiveFovRH(DegToRad(CurrentAngleOfView()), static_cast<float>(aspect),
                                                    FNearPlane, FFarPlane);
    if (RenderToMatrixUsed()) m = m * RenderToMatrix();
    m = m * TMatrix3D::CreateTranslation(TPoint3D(CenterOffset().X, CenterOffset().Y, 0));
    FProjectionMatrix = m;
    FInvProjectionMatrix = m.Inverse();
    FRecalcProjectionMatrix = false;
    InvalidateMVP();
    return m;
}

TMatrix3D TKorvaneContext::GetCurrentScreenMatrix()
{
    if (!FRecalcScreenMatrix) return FScreenMatrix;
    TMatrix3D m;
    if (RenderToMatrixUsed()) {
        m = RenderToMatrix();
    } else {
        const float w = static_cast<float>(Width()), h = static_cast<float>(Height());
        const TMatrix3D ortho = TMatrix3D::CreateOrthoOffCenterRH(0, h, w, 0, FNearPlane, FFarPlane);
        const TMatrix3D perspective =
            Height() == 0 ? TMatrix3D::CreatePerspectiveFovRH(static_cast<float>(Pi / 6), 1, 1, 1000)
                          : TMatrix3D::CreatePerspectiveFovRH(static_cast<float>(Pi / 6), static_cast<float>(double(w) / h),
                                                              FNearPlane, FFarPlane);
        m = TMatrix3D::CreateTranslation(TPoint3D(0, 0, -2)) * perspective;
        const double f = double(ortho.m11) / double(m.m11);
        m = TMatrix3D::CreateScaling(TPoint3D(float(2 * f), float(-2 * f), float(-2 * f))) * m;
        m = TMatrix3D::CreateTranslation(TPoint3D(-w / 2, -h / 2, 0)) * m;
    }
    FScreenMatrix = m;
    FInvScreenMatrix = m.Inverse();
    FRecalcScreenMatrix = false;
    return m;
}

void TKorvaneContext::SetProjectionMatrix(const TMatrix3D& AMat)
{
    FProjectionMatrix = AMat;
    FRecalcProjectionMatrix = false;
    InvalidateMVP();
}

TPoint3D TKorvaneContext::ScreenToWorld(const TPointF& AScreenPos, TProjection AProjection)
{
    TVector3D pos, dir;
    Pick(AScreenPos.X, AScreenPos.Y, AProjection, pos, dir);
    const TPoint3D p(pos.X, pos.Y, pos.Z);
    return p + TPoint3D(dir.X, dir.Y, dir.Z) * p.Length();
}

void TKorvaneContext::SetFrustum(const TKorvaneFrustum& AFrustum)
{
    FFrustum = AFrustum;
    FFrustumBox = AFrustum.ToBoundingBox();
}

namespace {
size_t ClipIndex(int AIndex) { return static_cast<size_t>(std::clamp(AIndex, 0, 7)); }
} // namespace

void TKorvaneContext::ActivateClipPlane(int AIndex, const TPlaneF& APlane)
{
    TClipPlaneF& c = FClippingPlanes[ClipIndex(AIndex)];
    c.Plane = APlane;
    c.Enabled = true;
}

void TKorvaneContext::DeactivateClipPlane(int AIndex)
{
    TClipPlaneF& c = FClippingPlanes[ClipIndex(AIndex)];
    c.Plane = TPlaneF{0, 0, 0, 0};
    c.Enabled = false;
}

PClipPlaneF TKorvaneContext::GetClippingPlane(int AIndex) { return &FClippingPlanes[ClipIndex(AIndex)]; }

bool TKorvaneContext::IsClippingPlaneActive(int AIndex) const { return FClippingPlanes[ClipIndex(AIndex)].Enabled; }

// ---------------------------------------------------------------------------
// States and forwarding

void TKorvaneContext::SetContextStates(TContextStates AStates)
{
    ++FMultipleSetContextState;
    try {
        for (int i = 0; i < ContextStateCount; ++i) {
            const auto state = static_cast<TContextState>(i);
            if (AStates.Contains(state)) SetContextState(state);
        }
    } catch (...) {
        --FMultipleSetContextState;
        throw;
    }
    --FMultipleSetContextState;
    DoSetContextStates(AStates);
}

std::string TKorvaneContext::SaveToBitmapFile(TBitmap* ABitmap, const std::string& APath)
{
    if (!ABitmap) return {};
    const std::string fileName = APath + TPath::GetRandomFileName() + ".bmp";
    ABitmap->SaveToFile(fileName);
    return fileName;
}

uint32_t TKorvaneContext::MemoryBarrierFlagsToBits(TMemoryBarrierFlags AFlags)
{
    uint32_t bits = 0;
    for (int i = 0; i <= static_cast<int>(TMemoryBarrierFlag::ShaderStorageBarrierBit); ++i) {
        const auto flag = static_cast<TMemoryBarrierFlag>(i);
        if (AFlags.Contains(flag)) bits |= MemoryBarrierFlagToBit(flag);
    }
    return bits;
}

void TKorvaneContext::DrawScreenRectangle(TAlphaColor AColor) { DrawScreenRectangle(TAlphaColorF::Create(AColor)); }

void TKorvaneContext::ResetDrawCallDiagnostics()
{
    ContextDrawCalls.exchange(0);
    ContextDrawInstances.exchange(0);
    ContextDrawVertices.exchange(0);
    ContextDrawIndices.exchange(0);
}

const TKorvaneContextClass& TKorvaneContext::CheckPlatformClass(const TContextClass& AClass)
{
    if (!AClass.InheritsFrom(StaticClass()))
        throw EContext3DException(
            Format("the default context class %s does not descend from TKorvaneContext", AClass.ClassName()));
    FCheckedPlatformClass.store(&AClass, std::memory_order_relaxed);
    return static_cast<const TKorvaneContextClass&>(AClass);
}

int TKorvaneContext::DirectStateAccess() { return PlatformClass().PlatformDirectStateAccess(); }

void TKorvaneContext::DoSetTextureFiltering(TTexture* ATexture, TTextureStyles AStyles, uint32_t ATextureKind,
                                            uint32_t AInternalFormat)
{
    PlatformClass().PlatformSetTextureFiltering(ATexture, AStyles, ATextureKind, AInternalFormat);
}

void TKorvaneContext::SetPixelState(int AWidth, int AHeight, int ADepth, int ABytesPerPixel, int APitch)
{
    PlatformClass().PlatformSetPixelState(AWidth, AHeight, ADepth, ABytesPerPixel, APitch);
}

void TKorvaneContext::UnsetPixelState() { PlatformClass().PlatformUnsetPixelState(); }
std::string TKorvaneContext::GetVendorName() { return PlatformClass().PlatformGetVendorName(); }
std::string TKorvaneContext::GetRendererName() { return PlatformClass().PlatformGetRendererName(); }
std::string TKorvaneContext::GetVersion() { return PlatformClass().PlatformGetVersion(); }
std::string TKorvaneContext::GetExtensionString() { return PlatformClass().PlatformGetExtensionString(); }
TContextShaderArch TKorvaneContext::GetShaderArch() { return PlatformClass().PlatformGetShaderArch(); }
int TKorvaneContext::MaxTextureSize() { return PlatformClass().PlatformMaxTextureSize(); }
int TKorvaneContext::MaxTexture3DSize() { return PlatformClass().PlatformMaxTexture3DSize(); }
int TKorvaneContext::MaxTextureImageUnits() { return PlatformClass().PlatformMaxTextureImageUnits(); }
int TKorvaneContext::MaxVertexShaderUniformBlocks() { return PlatformClass().PlatformMaxVertexShaderUniformBlocks(); }
int TKorvaneContext::MaxFragmentShaderUniformBlocks()
{
    return PlatformClass().PlatformMaxFragmentShaderUniformBlocks();
}
int TKorvaneContext::MaxUniformBlockSize() { return PlatformClass().PlatformMaxUniformBlockSize(); }
int TKorvaneContext::MaxDrawBuffers() { return PlatformClass().PlatformMaxDrawBuffers(); }
int TKorvaneContext::MaxLightCount() { return PlatformClass().PlatformMaxLightCount(); }
TContextStyles TKorvaneContext::Style() { return PlatformClass().PlatformStyle(); }
bool TKorvaneContext::TextureCompressionAllowed() { return PlatformClass().PlatformTextureCompressionAllowed(); }
int TKorvaneContext::TextureUnitCount() { return 8; }
TPixelFormat TKorvaneContext::PixelFormat() { return TPixelFormat::BGRA; }

TExtensions* TKorvaneContext::Extensions()
{
    // Without a usable GL context there is no extension to use.
    if (!IsContextAvailable()) return nullptr;
    if (GExtensions) return GExtensions.get();
    if (!ExtensionsClass) throw EContext3DException("no GPU extensions class is installed");
    GExtensions.reset(ExtensionsClass->Create());
    return GExtensions.get();
}

bool TKorvaneContext::HasExtension(const std::string& AName)
{
    TExtensions* e = Extensions();
    return e && e->Extension(AName);
}

} // namespace korvane
