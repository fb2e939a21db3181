#pragma once
// The OpenGL implementation of the render context. It runs on an OpenGL 4.3
// compatibility-profile context; making that context belongs to the platform
// classes below it (Korvane.Context.GLES.Windows).

#include <functional>
#include <string>

#include "Korvane.Context.h"

namespace korvane {

// GL_CLIENT_ATTRIB_STACK_DEPTH as saved by PlatformSetPixelState; the unset pops
// only while it is above 0.
extern int ClientAttribStackDepth;

class TKorvaneContextOpenGLESClass : public TKorvaneContextClass {
public:
    using TKorvaneContextClass::TKorvaneContextClass;

    // A GL context can be used.
    bool Valid() const override;

    int PlatformDirectStateAccess() const override;
    void PlatformSetPixelState(int AWidth, int AHeight, int ADepth, int ABytesPerPixel, int APitch) const override;
    void PlatformUnsetPixelState() const override;
    std::string PlatformGetVendorName() const override;
    std::string PlatformGetRendererName() const override;
    std::string PlatformGetVersion() const override;
    std::string PlatformGetExtensionString() const override;
    bool PlatformHasAnyErrors() const override;
    bool PlatformHasAnyErrors(intptr_t& AError) const override;
    int PlatformMaxTextureSize() const override;
    int PlatformMaxTexture3DSize() const override;
    int PlatformTextureUnitCount() const override;
    int PlatformMaxTextureImageUnits() const override;
    int PlatformMaxVertexShaderUniformBlocks() const override;
    int PlatformMaxFragmentShaderUniformBlocks() const override;
    int PlatformMaxUniformBlockSize() const override;
    int PlatformMaxDrawBuffers() const override;

    // Texture life cycle.
    //
    // DoInitializeTexture makes the GL texture and its storage (unit, wraps,
    // border colour, filters, levels) and stores its name in the texture. An
    // OpenGL error that an earlier call left pending is drained and logged, not
    // taken for a failure. A failure writes "korvane3d.context.log" into the
    // public folder (TPath::GetPublicPath) before it passes on.
    void DoInitializeTexture(TTexture* ATexture) const override;
    // Uploads the texture's own pixel buffer when it has one, otherwise ABits
    // (rows APitch bytes apart; 0 means tightly packed). A render target gets
    // no pixels. Raises when the pixels cannot hold the texture's rows.
    void DoUpdateTexture(TTexture* ATexture, const void* ABits, int APitch) const override;
    void DoFinalizeTexture(TTexture* ATexture) const override;
    // Nearest filters for integer formats; otherwise the texture's filters, with
    // mip-maps when the styles ask for them.
    void PlatformSetTextureFiltering(TTexture* ATexture, TTextureStyles AStyles, uint32_t ATarget,
                                     uint32_t AInternalFormat) const override;

    // Shader life cycle. DoInitializeShader compiles the shader's source for the
    // context's shading language (else its GLSL source) as the GL stage of its
    // kind; nothing without a GL context or a source. DoFinalizeShader frees the
    // cached programs linked with the stage, then deletes it; the handle is 0
    // afterwards in every case.
    void DoInitializeShader(TContextShader* AShader) const override;
    void DoFinalizeShader(TContextShader* AShader) const override;
};

class TKorvaneContextOpenGLES : public TKorvaneContext {
    KORVANE_CLASS(TKorvaneContextOpenGLES, TKorvaneContext)

    static const TKorvaneContextOpenGLESClass& ClassInfo()
    {
        return static_cast<const TKorvaneContextOpenGLESClass&>(*StaticClass());
    }

    // The OpenGL name of texture unit ATextureIndex: GL_TEXTURE0 + the index for
    // 1 to 31, GL_TEXTURE0 for any other value.
    static uint32_t GetTextureByTextureIndex(int ATextureIndex);

    void CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight, TMultisample AMultisample,
                          bool ADepthStencil) override;
    void CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil) override;

    // --- blending ------------------------------------------------------------

    // Disables every draw buffer's blending, then makes AValue the blending of
    // GL_BLEND and entry 0; a GL error is only logged.
    void SetGlobalBlending(const TBlendSetting& AValue) override;
    // Indices outside the GL context's draw buffers store a disabled entry
    // (indices outside the table store nothing) and make no GL call.
    void SetBlendingByIndex(int AIndex, const TBlendSetting& AValue) override;
    TBlendSetting GetDefaultBlending() override;
    void EnableBlendingBuffers() override;
    void DisableBlendingBuffers() override;

    // --- fixed-function state and legacy drawing -------------------------------

    uint32_t MemoryBarrierFlagToBit(TMemoryBarrierFlag AFlag) override;
    void SetMemoryBarrierBits(TMemoryBarrierFlags AFlags) override;
    void SetMemoryBarrierBit(TMemoryBarrierFlag AFlag) override;
    void FetchMemoryBarrierBit() override;
    void SetFlatShading() override;
    void SetSmoothShading() override;
    using TKorvaneContext::DrawScreenRectangle;
    void DrawScreenRectangle(const TAlphaColorF& AColor) override;
    void BeginOrtho(float ALeft, float ATop, float ARight, float ABottom, float ANear, float AFar) override;
    void BeginOrtho(const TOrthographicData& AData) override;
    void EndOrtho() override {}
    void StorePreviousContextSize() override;
    void SetContextSize(int AXOfs, int AYOfs, int AWidth, int AHeight) override;
    void SetContextSize(const TKorvaneContextSize& ASize) override;
    void GetContextSize(TKorvaneContextSize& ASize) override;

protected:
    // Reads the default frame buffer (which must have the context's size and the
    // rectangle's size) and writes its rows top row first. Failures are logged
    // and answer False.
    bool DoCopyToBits(void* ABits, int APitch, const TRect& ARect) override;
    bool DoCopyToBitmap(TBitmap* ADest, const TRect& ARect) override;
    // Frees the read-back memory that the copies share.
    void BeforeDestruction() override;
    void DoSetContextState(TContextState AState) override;
    void DoSetContextStates(TContextStates AStates) override;
    void DoSetStencilOp(TStencilOp AFail, TStencilOp AZFail, TStencilOp AZPass) override;
    void DoSetStencilFunc(TStencilFunc AFunc, uint32_t ARef, uint32_t AMask) override;
    void DoSetTwoSidedRendering(TStencilOpEx AFrontFaceFail, TStencilOpEx AFrontFaceZFail,
                                TStencilOpEx AFrontFaceZPass, TStencilOpEx ABackFaceFail, TStencilOpEx ABackFaceZFail,
                                TStencilOpEx ABackFaceZPass, uint32_t AFrontStencilMask,
                                uint32_t ABackStencilMask) override;
    void DoSetPolygonOffsetFill(TPolygonOffsetFill AMode, float AFactor, float AUnits) override;
    void DoSetSmoothMode(TSmoothTargets ATargets) override;
    void DoSetPointSprites(bool AEnabled) override;
    void DoSetPointSpriteTextureMode() override;
    void DoClear(TClearTargets ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil) override;
    void DoClearEx(TRenderTargets ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil) override;
    void DoClearBufferFloat(int ABuf, const float* APtr) override;
    // One batch: vertex sources (client memory, the mesh buffer object of
    // CurrentCache, compressed components), layered materials and instancing.
    void DoDrawPrimitivesBatch(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                               const TVertexDeclaration& VertexDeclaration, int VertexSize, int VertexCount,
                               int IndexSize, int IndexCount) override;

    // Shader variables of the current program.
    using TKorvaneContext::DoSetShaderVariable;
    // By the variable's kind: Float, Float2 and Float3 take the first vector's
    // first components, every other kind min(count, Size) vec4s. No vectors set nothing.
    void DoSetShaderVariable(const std::string& AName, std::span<const TVector3D> AData) override;
    // Binds the texture to the variable's texture unit (a TKorvaneTexture takes
    // that unit and is bound by its kind) and points the sampler at the unit.
    // nullptr sets nothing.
    void DoSetShaderVariable(const std::string& AName, TTexture* ATexture) override;
    // One mat4, as stored: the upload never reads beyond the one matrix given.
    void DoSetShaderVariableMat4(const std::string& AName, const TMatrix3D& AMatrix) override;
    void DoSetShaderVariableInt(const std::string& AName, std::span<const int32_t> AValue) override;
    // The bodies of the three setters above for a variable already found.
    void SetVariableVectors(const TContextShaderVariable& AVariable, const std::string& AName,
                            std::span<const TVector3D> AData) override;
    void SetVariableMat4(const TContextShaderVariable& AVariable, const std::string& AName,
                         const TMatrix3D& AMatrix) override;
    void SetVariableInts(const TContextShaderVariable& AVariable, const std::string& AName,
                         std::span<const int32_t> AValue) override;

private:
    // The clear of DoClear and DoClearEx; AErrorText formats the GL error code.
    void ClearTargets(bool AColor, bool ADepth, bool AStencil, TAlphaColor AColorValue, float ADepthValue,
                      uint32_t AStencilValue, bool ACheckClear, const std::function<std::string(intptr_t)>& AErrorText);
    struct TBatch;
    void DrawBatch(TBatch& ABatch);
    void FinishBatch(TBatch& ABatch, bool AFailing);
    // One GL draw with statistics and instancing.
    void DrawSingle(uint32_t AMode, int AIndexSize, int AIndexCount, const void* AIndices, int AVertexCount);
    // The vertex attribute arrays (bit i: location i) that the batch being drawn
    // enabled; the batch ends with all of them off again.
    uint32_t FEnabledAttributeArrays = 0;
};

// Bytes of the read-back memory that DoCopyToBits keeps between calls.
int64_t ReadBackBufferSize();

} // namespace korvane
