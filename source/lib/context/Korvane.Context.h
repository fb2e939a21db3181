#pragma once
// The framework's render context: the abstract base of the OpenGL context. Its
// capability queries are class functions that ask the class registered with the
// context manager as the default 3D context class, so that class must descend
// from TKorvaneContext.

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "Korvane.Context.Buffers.h"
#include "Korvane.Context.FrameBuffers.h"
#include "Korvane.Context.Frustum.h"
#include "Korvane.Context.Rendering.h"
#include "Korvane.Context.Types.h"
#include "Platform.Materials3D.h"
#include "Platform.Types3D.h"

namespace korvane {

class TExtensions;
class TKorvaneContext;
class TShaderProgram;
struct TRecordArrayUniforms;

// ---------------------------------------------------------------------------
// Unit variables (one set for the whole program)

// Near and far plane given to every new context.
extern float DefaultNearPlane;
extern float DefaultFarPlane;
// Whether shader compile errors may raise at all.
extern bool RaiseShaderCompileErrors;
// The optional global error handler; Kind is 0 context, 1 shader compile, 2 initialisation.
using TContextErrorHandler = void (*)(TObject* Sender, uint8_t Kind, const std::string& Message);
extern TContextErrorHandler ContextErrorHandler;
// Set by every viewport to whether it is being designed.
extern bool DesignTimeMode;
// GL_MAX_DRAW_BUFFERS of the program's GL context, read once when it is made; 0 before.
extern int ContextMaxDrawBuffers;

// Draw statistics since the last ResetDrawCallDiagnostics: draw calls, instances
// drawn (a draw without instancing counts one), vertices drawn (vertex count
// times instances) and indices drawn (index count times instances). Changed
// atomically by every draw, read and reset by the viewport between frames.
extern std::atomic<int64_t> ContextDrawCalls;
extern std::atomic<int64_t> ContextDrawInstances;
extern std::atomic<int64_t> ContextDrawVertices;
extern std::atomic<int64_t> ContextDrawIndices;

// The default blending of the platform's 2D drawing, kept by the first
// GetDefaultBlending; DefaultBlendingAsked notes that it has been asked for.
extern bool DefaultBlendingAsked;
extern TBlendSetting DefaultBlendingValue;

// What the batch draw needs of a layered material, one that draws a mesh once
// with its own program and then once per layer, blended over each other.
class IKorvaneLayeredMaterial {
public:
    virtual ~IKorvaneLayeredMaterial() = default;
    virtual int GetMaterialsCount() = 0;
    // The material source of layer AIndex; nullptr when the layer has no item
    // or its item no material source.
    virtual TMaterialSource* GetLayerMaterialSource(TContext3D* AContext, int AIndex) = 0;
};

// ---------------------------------------------------------------------------
// The class reference of TKorvaneContext and its descendants

class TKorvaneContextClass : public TContextClass {
public:
    using TContextClass::TContextClass;

    // Whether the class can render (the OpenGL classes answer it).
    virtual bool Valid() const;
    // Makes / frees the program's one GL context.
    virtual void CreateSharedContext() const;
    virtual void DestroySharedContext() const;

    // Platform queries, answered by the OpenGL and the platform context classes.
    virtual int PlatformDirectStateAccess() const;
    // Filters (and mip-map levels) of the texture bound to ATarget.
    virtual void PlatformSetTextureFiltering(TTexture* ATexture, TTextureStyles AStyles, uint32_t ATarget,
                                             uint32_t AInternalFormat) const;
    virtual void PlatformSetPixelState(int AWidth, int AHeight, int ADepth, int ABytesPerPixel, int APitch) const;
    virtual void PlatformUnsetPixelState() const;
    virtual bool PlatformIsContextAvailable() const;
    virtual std::string PlatformGetVendorName() const;
    virtual std::string PlatformGetRendererName() const;
    virtual std::string PlatformGetVersion() const;
    virtual std::string PlatformGetExtensionString() const;
    virtual bool PlatformHasAnyErrors() const;
    virtual bool PlatformHasAnyErrors(intptr_t& AError) const;
    virtual TContextShaderArch PlatformGetShaderArch() const;
    virtual int PlatformMaxTextureSize() const;
    virtual int PlatformMaxTexture3DSize() const;
    virtual int PlatformTextureUnitCount() const;
    virtual int PlatformMaxTextureImageUnits() const;
    virtual int PlatformMaxVertexShaderUniformBlocks() const;
    virtual int PlatformMaxFragmentShaderUniformBlocks() const;
    virtual int PlatformMaxUniformBlockSize() const;
    virtual int PlatformMaxDrawBuffers() const;
    virtual int PlatformMaxLightCount() const;
    virtual TContextStyles PlatformStyle() const;
    virtual bool PlatformTextureCompressionAllowed() const;

    // A new TKorvaneTexture assigned from the bitmap, whatever the bitmap's class; nullptr for nullptr.
    TTexture* DoBitmapToTexture(TBitmap* ABitmap) const override;

    // Compiles one stage of the GL kind AType (GL_VERTEX_SHADER ...) through the
    // shader-program class and answers its handle; 0 without a GL context.
    // Raises when the class is not valid; a GL error afterwards is reported as a
    // shader compile error (raised only while designing).
    virtual uintptr_t BuildShader(int AType, const std::vector<uint8_t>& ACode) const;

    // The class functions of the context base answer through the default class.
    TContextStyles Style() const override;
    int MaxLightCount() const override;
    int MaxTextureSize() const override;
    int TextureUnitCount() const override;
    TPixelFormat PixelFormat() const override;

protected:
    [[noreturn]] void AbstractCall(const char* AName) const;
};

// ---------------------------------------------------------------------------

class TKorvaneContext : public TContext3D {
    KORVANE_CLASS(TKorvaneContext, TContext3D)

    // The metaclass, typed.
    static const TKorvaneContextClass& ClassInfo() { return static_cast<const TKorvaneContextClass&>(*StaticClass()); }
    // The object's metaclass as a context class of the framework.
    const TKorvaneContextClass& KorvaneClassType() const
    {
        return static_cast<const TKorvaneContextClass&>(*ClassType());
    }
    ~TKorvaneContext() override;

    // A window context is made by the base alone: it has no render-pass table.
    void CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil) override;

    // --- properties ----------------------------------------------------------

    // The frame buffer on the context's texture (texture contexts only).
    TFrameBufferObject* DefaultFrameBuf() const { return FDefaultFrameBuf.get(); }
    // The multisample frame buffer; never made in this system, but preferred
    // over the default one wherever it is present.
    TFrameBufferObject* DefaultMSFrameBuf() const { return FDefaultMSFrameBuf.get(); }
    // The frame buffer for translucent rendering.
    TFrameBufferObject* TranslucentBuf() const { return FTranslucentBuf.get(); }
    bool TranslucentRendering() const { return FTranslucentRendering; }
    void SetTranslucentRendering(bool AValue) { FTranslucentRendering = AValue; }
    bool IsTranslucentRendering() const { return FTranslucentRendering; }
    float TranslucentDistance() const { return FTranslucentDistance; }
    void SetTranslucentDistance(float AValue) { FTranslucentDistance = AValue; }
    float NearPlane() const { return FNearPlane; }
    void SetNearPlane(float value) { FNearPlane = value; }
    float FarPlane() const { return FFarPlane; }
    void SetFarPlane(float value) { FFarPlane = value; }
    TSmoothTargets SmoothTargets() const { return FSmoothTargets; }
    const TMatrix3D& OriginalCameraMatrix() const { return FOriginalCameraMatrix; }
    void SetOriginalCameraMatrix(const TMatrix3D& AValue) { FOriginalCameraMatrix = AValue; }
    // The lights in shader form, parallel to Lights().
    const std::vector<TKorvaneShaderLight>& ShaderLights() const { return FShaderLights; }
    const TKorvaneFogSettings& Fog() const { return FFog; }
    void SetFog(const TKorvaneFogSettings& AValue) { FFog = AValue; }
    // The named render passes; texture contexts only (nullptr for a window context).
    TRenderPasses* RenderPasses() const { return FPasses.get(); }
    TRenderPass* CurrentPass() const { return FCurrentPass; }
    const std::vector<TRenderPass*>& IntermediatePasses() const { return FIntermediatePasses; }
    // The GPU buffers of the mesh being drawn: set by the mesh before each draw,
    // cleared by the draw.
    TMeshBufferObject* CurrentCache() const { return FCurrentCache; }
    void SetCurrentCache(TMeshBufferObject* AValue) { FCurrentCache = AValue; }
    // Instances of the next draw; 0 or less draws without instancing.
    int InstanceCount() const { return FInstanceCount; }
    // The buffer of per-instance model matrices, once SetInstances made it.
    TBufferObject* InstanceBuffer() const { return FInstanceVAO.get(); }
    // The layered material of the mesh being drawn; set when it is applied,
    // cleared by the next batch draw.
    IKorvaneLayeredMaterial* CurrentLayeredMaterial() const { return FCurrentLayeredMaterial; }
    void SetCurrentLayeredMaterial(IKorvaneLayeredMaterial* AValue) { FCurrentLayeredMaterial = AValue; }
    // The context between BeginSceneRendering and the outermost EndSceneRendering, or nullptr.
    static TKorvaneContext* CurrentContext();
    // AContext as a framework context; nullptr for nullptr and for a context of
    // another kind. Materials ask on every draw: the dynamic type of the last
    // context that was one is kept, so that asking again for a context of that
    // type is one comparison instead of a walk of the class tree.
    static TKorvaneContext* Cast(TContext3D* AContext);

    // --- scenes --------------------------------------------------------------

    // A subclass may refuse a scene.
    virtual bool CanBeginScene() { return true; }
    // The framework's scene bracket. BeginSceneRendering takes the canvas lock;
    // on True it stays held until the matching EndSceneRendering, on False or
    // an exception it is released at once (and nothing needs ending).
    virtual bool BeginSceneRendering();
    virtual void EndSceneRendering();

    // --- frame buffers -------------------------------------------------------

    // The stack of frame buffers bound on top of each other (TFrameBufferObject.Bind / Unbind).
    void PushFBO(TFrameBufferObject* AFBO);
    // The top of the stack, removed; nullptr when the stack is empty.
    TFrameBufferObject* PopFBO();
    virtual TFrameBufferObject* GetCurrentlyBoundBuffer() const;
    // Binds / unbinds the multisample frame buffer if there is one, else the default one.
    virtual void BindDefaultBuffer();
    virtual void UnbindDefaultBuffer();
    // With a texture and that frame buffer: makes the GPU texture when needed and attaches it.
    virtual void AttachTextureToDefaultBuffer(TTexture* ATexture, TRenderTarget ATarget);
    virtual void AttachTextureToTranslucentBuffer(TTexture* ATexture, TRenderTarget ATarget);
    // Shares the depth buffer of the multisample (else the default) frame buffer
    // with the translucent one, at the size of the current texture (or of the context).
    virtual void LinkDepthBufferToTranslucentBuffer();
    // The colour-0 texture of the frame buffer on top of the stack; with an empty
    // stack the context's own target texture.
    virtual TTexture* GetCurrentTexture() const;
    // The colour-0 texture of the default frame buffer, or nullptr.
    TTexture* GetDefaultTexture() const;

    // --- render passes -------------------------------------------------------

    // Pushes the pass and makes it current.
    void BeginRenderPass(TRenderPass* APass);
    // Pops the pass stack; the pass below (or none) becomes current.
    void EndRenderPass();
    // No current pass (the stack is left as it is).
    void ResetRenderPasses() { FCurrentPass = nullptr; }
    TRenderPass* GetCurrentRenderPass() const { return FCurrentPass; }
    // Adds the pass to the intermediate passes unless it is listed already.
    void AddIntermediatePass(TRenderPass* APass);
    // Takes the pass out of the intermediate passes (a pass leaving the table).
    void RemoveIntermediatePass(TRenderPass* APass);
    // Runs one pass: BeginScene, its iterations, EndScene (also when an iteration fails).
    void ExecuteRenderPass(TRenderPass* APass, PRenderContext ARenderContext);
    // Runs every enabled Pre (Post) pass of the table; True when there was a
    // render context and a non-empty table (Intermediate runs none).
    virtual bool ExecuteRenderPasses(TRenderPassType AType, PRenderContext ARenderContext);
    virtual bool PreProcessing(PRenderContext ARenderContext);
    virtual bool PostProcessing(PRenderContext ARenderContext);

    // --- drawing and materials -----------------------------------------------

    // Draws through the context's own draw entry (render passes apply), without
    // the checks of DrawPrimitives. The second form passes the framework's
    // extended kinds through by ordinal.
    void DirectDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                              const TVertexDeclaration& VertexDeclaration, int VertexSize, int VertexCount,
                              int IndexSize, int IndexCount);
    void DirectDrawPrimitives(TKorvanePrimitivesKind AKind, const void* Vertices, const void* Indices,
                              const TVertexDeclaration& VertexDeclaration, int VertexSize, int VertexCount,
                              int IndexSize, int IndexCount);
    virtual void DoDirectDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                        const TVertexDeclaration& VertexDeclaration, int VertexSize,
                                        int VertexCount, int IndexSize, int IndexCount);
    // Applies the material and hands it the matrices it asks for; nothing for nullptr.
    virtual void ApplyMaterial(TMaterial* AMaterial);
    virtual void ResetMaterial(TMaterial* AMaterial);
    // Always 32-bit indices.
    TIndexBufferSupport GetIndexBufferSupport() override;

    // --- the program cache ----------------------------------------------------
    //
    // One cache of linked programs serves every context of the program (there is
    // one GL context). A program is found by the handles of its vertex and pixel
    // shader; the middle stages are not part of the key. The cache owns its
    // programs: taking one out frees it.

    // The program last made current by UseProgram, or nullptr.
    static TShaderProgram* GetCurrentProgram();
    // The cached program of the two shaders' handles (the first in cache order),
    // or nullptr (also without a GL context, a cache, a shader or a handle).
    // Never makes one.
    virtual TShaderProgram* GetProgram(TContextShader* VS, TContextShader* PS);
    // Takes the program out of the cache, which frees it; nothing for a program
    // the cache does not hold.
    virtual void RemoveProgram(TShaderProgram* AShaderProgram);
    virtual void RemoveProgram(TContextShader* VS, TContextShader* PS);
    // Frees every cached program linked with the compiled stage AHandle in any of
    // its stages. Called before that stage is deleted: OpenGL may give its name
    // to a new stage, which must not find a program of the old one.
    static void RemoveProgramsOfShader(uintptr_t AHandle);
    // Empties and frees the cache; the current program becomes nullptr.
    static void FreeProgramCache();

    // Nothing unless VS and PS are given: compiles every given stage that has no
    // handle yet (through the context manager), then makes the program of the
    // five current. GS, TES and TCS may be nullptr.
    using TContext3D::SetShaders;
    virtual void SetShaders(TContextShader* VS, TContextShader* GS, TContextShader* TES, TContextShader* TCS,
                            TContextShader* PS);
    // The cached program of VS and PS, else a new one linked from the five stages
    // and cached. nullptr without a GL context or when VS or PS is missing or
    // has no handle.
    virtual TShaderProgram* AcquireProgram(TContextShader* VS, TContextShader* GS, TContextShader* TES,
                                           TContextShader* TCS, TContextShader* PS);
    // Makes the acquired program current and uses it; without one no program is
    // current and none is bound. Nothing without a GL context or when VS or PS
    // is missing or has no handle.
    virtual void UseProgram(TContextShader* VS, TContextShader* GS, TContextShader* TES, TContextShader* TCS,
                            TContextShader* PS);
    // The number after "texture" at the start of the name (letter case ignored):
    // "Texture3" gives 3; 0 when the name does not start so or no whole number follows.
    virtual int GetTextureUnitIndex(const std::string& AName);
    // One debug-log line "<name> - Program = <hash>, Texture = <hash>, Index = <index>",
    // with "?" for a missing program or texture.
    virtual void LogProgramState(const std::string& AName, TObject* AProgram, TObject* ATexture, int AIndex);

    // --- shader variables ----------------------------------------------------
    //
    // Every setter works on the current program: nothing without one, without a
    // GL context or when the program declares no variable of that name. A GL
    // error afterwards raises "Cannot find shader variable"; while designing,
    // failures are logged and swallowed.

    using TContext3D::SetShaderVariable;
    // As a mat4 (AAsMat4) or as four vec4 rows of the transposed matrix.
    void SetShaderVariable(const std::string& AName, const TMatrix3D& AMatrix, bool AAsMat4);
    // A kind-6 variable takes the first value, a kind-7 one all of them; other kinds nothing.
    void SetShaderVariableInt(const std::string& AName, std::span<const int32_t> AValue)
    {
        DoSetShaderVariableInt(AName, AValue);
    }
    void SetShaderVariableInt(const std::string& AName, std::initializer_list<int32_t> AValue)
    {
        DoSetShaderVariableInt(AName, std::span<const int32_t>(AValue.begin(), AValue.size()));
    }
    // Sets ACount records of the described type at AData field by field, as the
    // uniforms "<name>[<i>].<field>".
    void SetShaderVariableArrayOfStruct(const std::string& AName, const TShaderTypeInfo& AType, int ACount,
                                        const void* AData)
    {
        DoSetShaderVariableArrayOfStruct(AName, AType, ACount, AData);
    }

    // --- lights --------------------------------------------------------------

    // Add to both light lists; answer the index in ShaderLights.
    virtual int AddLight(const TLightDescription& ALight);
    virtual int AddLight(const TKorvaneShaderLight& ALight);
    // Raises EListError for an index outside the lists.
    virtual void RemoveLight(int AIdx);
    virtual void ClearLights();

    // --- instancing ----------------------------------------------------------

    // The next draw draws AInstances instances with the AInstances model
    // matrices at AData (64 bytes each), uploaded here. A positive count
    // without data raises EArgumentException.
    virtual void SetInstances(int AInstances, const void* AData);
    virtual void UnsetInstances() { FInstanceCount = 0; }
    virtual void CreateInstanceBuffer();
    virtual void FreeInstanceBuffer();

    // --- blending ------------------------------------------------------------

    // Reading answers the default blending (not the last value written);
    // writing makes one setting the blending of every draw buffer.
    TBlendSetting GlobalBlending() { return GetGlobalBlending(); }
    void SetGlobalBlendingValue(const TBlendSetting& AValue) { SetGlobalBlending(AValue); }
    virtual TBlendSetting GetGlobalBlending() { return GetDefaultBlending(); }
    virtual void SetGlobalBlending(const TBlendSetting& AValue) = 0;
    // The whole table, one entry per colour draw buffer.
    virtual TBlendSettings GetBlendings();
    virtual void SetBlendings(const TBlendSettings& AValue);
    // The entry in effect for draw buffer AIndex; a disabled setting for an
    // index outside the draw buffers of the GL context.
    virtual TBlendSetting GetBlendingByIndex(int AIndex);
    virtual void SetBlendingByIndex(int AIndex, const TBlendSetting& AValue) = 0;
    virtual TBlendSetting GetDefaultBlending() = 0;
    virtual void EnableBlendingBuffers() = 0;
    virtual void DisableBlendingBuffers() = 0;
    // The number of blend-table entries in effect: the GL context's draw buffers, at most 32.
    static int EffectiveDrawBuffers();

    // --- matrices, boundaries, clip planes -----------------------------------

    // Becomes the projection matrix (the inverse is left as it was) until the
    // projection is recomputed.
    void SetProjectionMatrix(const TMatrix3D& AMat);
    // The world point under a screen point: the pick ray's origin P plus its
    // direction times the length of P.
    TPoint3D ScreenToWorld(const TPointF& AScreenPos, TProjection AProjection);
    const TBoundingBox& GetSceneBoundary() const { return FBoundary; }
    void SetSceneBoundary(const TBoundingBox& ABounds) { FBoundary = ABounds; }
    const TKorvaneFrustum& GetFrustum() const { return FFrustum; }
    // Also stores the frustum's bounding box as the frustum boundary.
    void SetFrustum(const TKorvaneFrustum& AFrustum);
    const TBoundingBox& GetFrustumBoundary() const { return FFrustumBox; }
    // Clip planes 0 to 7; every index is clamped into that range.
    void ActivateClipPlane(int AIndex, const TPlaneF& APlane);
    void DeactivateClipPlane(int AIndex);
    PClipPlaneF GetClippingPlane(int AIndex);
    bool IsClippingPlaneActive(int AIndex) const;

    // --- states and forwarding -----------------------------------------------

    // Records every state of the set (the GL work of each single state is
    // skipped meanwhile), then applies the whole set at once.
    void SetContextStates(TContextStates AStates);
    void SetTwoSidedRendering(TStencilOpEx AFrontFaceFail, TStencilOpEx AFrontFaceZFail, TStencilOpEx AFrontFaceZPass,
                              TStencilOpEx ABackFaceFail, TStencilOpEx ABackFaceZFail, TStencilOpEx ABackFaceZPass,
                              uint32_t AFrontStencilMask, uint32_t ABackStencilMask)
    {
        DoSetTwoSidedRendering(AFrontFaceFail, AFrontFaceZFail, AFrontFaceZPass, ABackFaceFail, ABackFaceZFail,
                               ABackFaceZPass, AFrontStencilMask, ABackStencilMask);
    }
    void SetPolygonOffsetFill(TPolygonOffsetFill AMode, float AFactor, float AUnits)
    {
        DoSetPolygonOffsetFill(AMode, AFactor, AUnits);
    }
    void SetSmoothMode(const TSmoothSetting& ASetting) { DoSetSmoothMode(ASetting.Targets); }
    void SetPointSprites(bool AEnabled) { DoSetPointSprites(AEnabled); }
    void SetPointSpriteTextureMode() { DoSetPointSpriteTextureMode(); }
    void ClearEx(TRenderTargets ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil)
    {
        DoClearEx(ATarget, AColor, ADepth, AStencil);
    }
    void ClearBufferFloat(int ABuf, const float* APtr) { DoClearBufferFloat(ABuf, APtr); }
    virtual uint32_t MemoryBarrierFlagToBit(TMemoryBarrierFlag AFlag) = 0;
    virtual uint32_t MemoryBarrierFlagsToBits(TMemoryBarrierFlags AFlags);
    virtual void SetMemoryBarrierBits(TMemoryBarrierFlags AFlags) = 0;
    virtual void SetMemoryBarrierBit(TMemoryBarrierFlag AFlag) = 0;
    virtual void FetchMemoryBarrierBit() = 0;
    virtual void SetFlatShading() = 0;
    virtual void SetSmoothShading() = 0;
    // Fills the whole viewport with a colour.
    virtual void DrawScreenRectangle(const TAlphaColorF& AColor) = 0;
    virtual void DrawScreenRectangle(TAlphaColor AColor);
    // Saves ABitmap as APath + a random file name + ".bmp" and answers that
    // file's name; without a bitmap nothing is written and the answer is empty.
    std::string SaveToBitmapFile(TBitmap* ABitmap, const std::string& APath);
    virtual void BeginOrtho(float ALeft, float ATop, float ARight, float ABottom, float ANear, float AFar) = 0;
    virtual void BeginOrtho(const TOrthographicData& AData) = 0;
    virtual void EndOrtho() = 0;
    // The GL viewport: saved by StorePreviousContextSize, set, read.
    virtual void StorePreviousContextSize() = 0;
    virtual void SetContextSize(int AXOfs, int AYOfs, int AWidth, int AHeight) = 0;
    virtual void SetContextSize(const TKorvaneContextSize& ASize) = 0;
    virtual void GetContextSize(TKorvaneContextSize& ASize) = 0;

    // --- class functions: each asks the default context class ---------------

    // The registered default context class; raises EContext3DException when it
    // does not descend from TKorvaneContext.
    static const TKorvaneContextClass& PlatformClass()
    {
        // Every draw and every shader-variable set asks several times; the
        // default class rarely changes, so its ancestry is checked once.
        const TContextClass& c = TContextManager::DefaultContextClass();
        if (&c == FCheckedPlatformClass.load(std::memory_order_relaxed))
            return static_cast<const TKorvaneContextClass&>(c);
        return CheckPlatformClass(c);
    }
    static int DirectStateAccess();
    static void DoSetTextureFiltering(TTexture* ATexture, TTextureStyles AStyles, uint32_t ATextureKind,
                                      uint32_t AInternalFormat);
    static void SetPixelState(int AWidth, int AHeight, int ADepth, int ABytesPerPixel, int APitch);
    static void UnsetPixelState();
    static bool IsContextAvailable() { return PlatformClass().PlatformIsContextAvailable(); }
    static std::string GetVendorName();
    static std::string GetRendererName();
    static std::string GetVersion();
    static std::string GetExtensionString();
    static bool HasAnyErrors() { return PlatformClass().PlatformHasAnyErrors(); }
    static bool HasAnyErrors(intptr_t& AError) { return PlatformClass().PlatformHasAnyErrors(AError); }
    static TContextShaderArch GetShaderArch();
    static int MaxTextureSize();
    static int MaxTexture3DSize();
    static int MaxTextureImageUnits();
    static int MaxVertexShaderUniformBlocks();
    static int MaxFragmentShaderUniformBlocks();
    static int MaxUniformBlockSize();
    static int MaxDrawBuffers();
    static int MaxLightCount();
    static TContextStyles Style();
    static bool TextureCompressionAllowed();
    // Always 8.
    static int TextureUnitCount();
    // Always BGRA.
    static TPixelFormat PixelFormat();
    static bool IsInDesignTime() { return DesignTimeMode; }
    // Sets the four draw statistics to 0.
    static void ResetDrawCallDiagnostics();

    // The program's extension list, read once through ExtensionsClass on the first
    // question; nullptr while no GL context is available.
    static TExtensions* Extensions();
    // Whether the extension list holds AName (False without a GL context).
    static bool HasExtension(const std::string& AName);

protected:
    void InitContext() override;
    void BeforeDestruction() override;
    // Frees the multisample, the default and the translucent frame buffer.
    void DoFreeBuffer() override;
    // A texture context: its texture and depth buffer take the new size.
    void DoResize() override;
    bool DoBeginScene() override;
    void DoEndScene() override;
    // The draw entry: render passes may refuse the draw or replace the
    // material, intermediate passes draw it again with their own materials.
    void DoDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                          const TVertexDeclaration& VertexDeclaration, int VertexSize, int VertexCount,
                          int IndexSize, int IndexCount) override;
    TMatrix3D GetCurrentProjectionMatrix() override;
    TMatrix3D GetCurrentScreenMatrix() override;

    // Frees a program taken out of the cache; the current program is cleared
    // when it is that one.
    static void DisposeOnNotify(TShaderProgram* AProgram);
    // UseProgram with the vertex and pixel shader only.
    void DoSetShaders(TContextShader* VS, TContextShader* PS) override;
    using TContext3D::DoSetShaderVariable;
    // The four rows of the transposed matrix through the vector form.
    void DoSetShaderVariable(const std::string& AName, const TMatrix3D& AMatrix) override;
    virtual void DoSetShaderVariableMat4(const std::string& AName, const TMatrix3D& AMatrix) = 0;
    virtual void DoSetShaderVariableInt(const std::string& AName, std::span<const int32_t> AValue) = 0;
    virtual void DoSetShaderVariableArrayOfStruct(const std::string& AName, const TShaderTypeInfo& AType, int ACount,
                                                  const void* AData);
    // What DoSetShaderVariable (vectors), DoSetShaderVariableMat4 and
    // DoSetShaderVariableInt do once they found AVariable of the current
    // program under AName, error check included.
    virtual void SetVariableVectors(const TContextShaderVariable& AVariable, const std::string& AName,
                                    std::span<const TVector3D> AData) = 0;
    virtual void SetVariableMat4(const TContextShaderVariable& AVariable, const std::string& AName,
                                 const TMatrix3D& AMatrix) = 0;
    virtual void SetVariableInts(const TContextShaderVariable& AVariable, const std::string& AName,
                                 std::span<const int32_t> AValue) = 0;

    // The current program's variable of that name; nullptr without a GL
    // context, a current program or such a variable.
    static const TContextShaderVariable* FindShaderVariable(const std::string& AName);
    // Raises "Cannot find shader variable" for AName when GL reports an error.
    void CheckShaderVariableErrors(const std::string& AName);
    // Runs a setter; while designing, its failures are logged and swallowed.
    template <typename Body>
    void GuardShaderVariable(const char* AOperation, Body&& ABody)
    {
        try {
            ABody();
        } catch (const Exception& e) {
            if (!DesignTimeMode) throw;
            LogSwallowedFailure(AOperation, e);
        }
    }
    void LogSwallowedFailure(const char* AOperation, const Exception& AError);

    // Applies a whole set of states in one go.
    virtual void DoSetContextStates(TContextStates AStates) = 0;
    // Clears the colour-0, depth and stencil targets of the set.
    virtual void DoClearEx(TRenderTargets ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil) = 0;
    virtual void DoClearBufferFloat(int ABuf, const float* APtr) = 0;
    virtual void DoSetTwoSidedRendering(TStencilOpEx AFrontFaceFail, TStencilOpEx AFrontFaceZFail,
                                        TStencilOpEx AFrontFaceZPass, TStencilOpEx ABackFaceFail,
                                        TStencilOpEx ABackFaceZFail, TStencilOpEx ABackFaceZPass,
                                        uint32_t AFrontStencilMask, uint32_t ABackStencilMask) = 0;
    virtual void DoSetPolygonOffsetFill(TPolygonOffsetFill AMode, float AFactor, float AUnits) = 0;
    virtual void DoSetSmoothMode(TSmoothTargets ATargets) = 0;
    virtual void DoSetPointSprites(bool AEnabled) = 0;
    virtual void DoSetPointSpriteTextureMode() = 0;

    // Cleared by the platform contexts: no multisample frame buffer is ever made.
    bool FSupportMS = true;
    TOwned<TFrameBufferObject> FDefaultFrameBuf;
    TOwned<TFrameBufferObject> FDefaultMSFrameBuf;
    TOwned<TFrameBufferObject> FTranslucentBuf;
    std::vector<TFrameBufferObject*> FFBOStack;
    TBlendSettings FBlendingBuffers{};
    TSmoothTargets FSmoothTargets;
    TKorvaneContextSize FOldViewport{};
    IKorvaneLayeredMaterial* FCurrentLayeredMaterial = nullptr;
    TMeshBufferObject* FCurrentCache = nullptr;
    TOwned<TBufferObject> FInstanceVAO;
    int FInstanceCount = 0;
    // GL point-sprite coordinate origin and parameters (threshold, minimum and
    // maximum size as every context starts with them).
    int FPointOrigin = 0;
    float FPointThreshold = 5.0f, FPointSizeMin = 1.0f, FPointSizeMax = 512.0f;
    // Nesting of SetContextStates; the single-state GL work is skipped while above 0.
    std::atomic<int> FMultipleSetContextState{0};

private:
    // The default class as a TKorvaneContextClass, raising when it is not one;
    // remembers it for PlatformClass.
    static const TKorvaneContextClass& CheckPlatformClass(const TContextClass& AClass);
    static constinit inline std::atomic<const TContextClass*> FCheckedPlatformClass{nullptr};
    // The size of the current texture, else of the context in pixels.
    TPoint CurrentTargetSize() const;
    // The fields of ACount records, without the design-time guard.
    // ANext counts the fields set so far over the whole array: it indexes
    // AUniforms, which gets the names of fields it does not have yet.
    void SetStructFields(TRecordArrayUniforms& AUniforms, size_t& ANext, const std::string& AName,
                         const TShaderTypeInfo& AType, int ACount, const uint8_t* AData);

    float FNearPlane = 0.0f, FFarPlane = 0.0f;
    bool FTranslucentRendering = false;
    float FTranslucentDistance = 0.0f;
    TMatrix3D FOriginalCameraMatrix = TMatrix3D::Identity();
    TBoundingBox FBoundary;
    TBoundingBox FFrustumBox;
    TKorvaneFrustum FFrustum;
    std::vector<TKorvaneShaderLight> FShaderLights;
    TKorvaneFogSettings FFog{};
    TOwned<TRenderPasses> FPasses;
    TRenderPass* FCurrentPass = nullptr;
    std::vector<TRenderPass*> FIntermediatePasses;
    std::vector<TRenderPass*> FRenderPassStack;
    bool FDefaultBufferFallbackBind = false;
    // The translucent buffer shares the default buffer's depth.
    bool FTranslucentDepthLinked = false;
    std::array<TClipPlaneF, 8> FClippingPlanes{};
    // The nested-scene states were pushed by BeginSceneRendering.
    bool FScenePushedStates = false;
};

} // namespace korvane
