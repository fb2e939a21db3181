#pragma once
// The 3D context layer of the platform: the context base class that every render
// context derives from (textures and bitmaps are in Platform.Textures.h), the class references ("metaclasses") through which
// contexts are constructed and asked about their capabilities, and the context
// manager that knows which class is the default one.
//
// A context class is described by one metaclass object (a TContextClass); its
// virtual members are the class functions and the virtual constructors. The
// constructors are two-phase: the metaclass allocates the object, then runs its
// virtual constructor body (CreateFromWindow / CreateFromTexture), so constructor
// bodies may call virtual operations of the most-derived class. An exception from
// a constructor body frees the half-made object and passes on.

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "Platform.Math3D.h"
#include "Platform.MeshBuffers.h"
#include "Platform.SysUtils.h"
#include "Platform.Textures.h"

namespace korvane {

// Failures of a render context.
class EContext3DException : public Exception {
public:
    using Exception::Exception;
};

// An abstract method that a class does not implement was called.
class EAbstractError : public Exception {
public:
    using Exception::Exception;
};

// Failure texts of the context layer that the framework takes from the platform
// (one %s placeholder each).
inline constexpr const char* SErrorInContextMethod = "Error in context method: %s";
inline constexpr const char* SCannotCreateTexture = "Cannot create texture: %s";
inline constexpr const char* SCannotUploadTexture = "Cannot upload pixel data to texture: %s";
inline constexpr const char* SCannotCreateShader = "Cannot create shader: %s";
inline constexpr const char* SCannotFindShaderVariable = "Cannot find shader variable: %s";
inline constexpr const char* SCannotActivateShaderProgram = "Cannot activate shader program: %s";

enum class TMultisample : uint8_t { None, TwoSamples, FourSamples };
KORVANE_ENUM_NAMES(TMultisample, "None", "TwoSamples", "FourSamples");

enum class TContextStyle : uint8_t { RenderTargetFlipped, Fragile };
using TContextStyles = TSet<TContextStyle>;

// The shading language a context compiles.
enum class TContextShaderArch : uint8_t { Undefined, DX9, DX10, DX11_level_9, DX11, GLSL, Metal };

// What one draw call draws. The framework's contexts pass further kinds (line
// loops, strips, fans) through by ordinal.
enum class TPrimitivesKind : uint8_t { Points, Lines, Triangles };

// The fixed-function states a context switches. Members come in groups (on/off
// pairs and the three face modes); setting one makes it the current member of
// its group.
enum class TContextState : uint8_t {
    cs2DScene, cs3DScene, csZTestOn, csZTestOff, csZWriteOn, csZWriteOff, csAlphaBlendOn, csAlphaBlendOff,
    csStencilOn, csStencilOff, csColorWriteOn, csColorWriteOff, csScissorOn, csScissorOff,
    csFrontFace, csBackFace, csAllFace
};
using TContextStates = TSet<TContextState>;
inline constexpr int ContextStateCount = 17;

enum class TClearTarget : uint8_t { Color, Depth, Stencil };
using TClearTargets = TSet<TClearTarget>;

enum class TStencilOp : uint8_t { Keep, Zero, Replace, Increase, Decrease, Invert };
enum class TStencilFunc : uint8_t { Never, Less, Lequal, Greater, Gequal, Equal, NotEqual, Always };

// Which index sizes a context draws without converting them.
enum class TIndexBufferSupport : uint8_t { Unknown, Int16, Int32 };

// The space of a screen point handed to a pick: through the camera or the flat screen.
enum class TProjection : uint8_t { Camera, Screen };

// ---------------------------------------------------------------------------
// Lights

enum class TLightType : uint8_t { Directional, Point, Spot };
KORVANE_ENUM_NAMES(TLightType, "Directional", "Point", "Spot");

// A light as the context keeps it.
struct TLightDescription {
    bool Enabled = false;
    TAlphaColor Color = 0;
    TLightType LightType = TLightType::Directional;
    float SpotCutOff = 0;
    float SpotExponent = 0;
    TPoint3D Position;
    TPoint3D Direction;

    static TLightDescription Create(bool AEnabled, TAlphaColor AColor, TLightType ALightType, float ASpotCutOff,
                                    float ASpotExponent, const TPoint3D& APosition, const TPoint3D& ADirection)
    {
        return TLightDescription{AEnabled, AColor, ALightType, ASpotCutOff, ASpotExponent, APosition, ADirection};
    }
};

// The handle of a window that a context may render into. Native is the
// platform's window (nullptr for none).
class TWindowHandle {
public:
    explicit TWindowHandle(void* native = nullptr) : FNative(native) {}
    virtual ~TWindowHandle() = default;
    void* Native() const { return FNative; }

private:
    void* FNative;
};

// ---------------------------------------------------------------------------
// Vertex buffers

// TVertexFormat, TVertexFormats, TVertexBuffer, TIndexBuffer and TMeshData live in
// Platform.MeshBuffers.h.

struct TVertexElement;
using TVertexDeclaration = std::vector<TVertexElement>;

// One attribute of a vertex layout and its byte offset inside a vertex.
struct TVertexElement {
    TVertexFormat Format = TVertexFormat::Vertex;
    int Offset = 0;
    bool operator==(const TVertexElement&) const = default;
};
// The declaration of a vertex with these attributes: made once per set of
// attributes and kept for the whole run (the same object for the same set).
const TVertexDeclaration& GetVertexDeclarations(TVertexFormats AFormats);

// ---------------------------------------------------------------------------
// Shaders

// The stage of a shader. The framework's contexts pass further stages
// (geometry, tessellation) through by ordinal.
enum class TContextShaderKind : uint8_t { VertexShader, PixelShader };
// The kind of a shader variable. The framework's contexts add integer kinds by ordinal.
enum class TContextShaderVariableKind : uint8_t { Float, Float2, Float3, Vector, Matrix, Texture };

// A variable of a shader as the context sees it: its name, its kind, where the
// program keeps it (Index), how many elements it has, the texture unit of a
// texture and the stage it belongs to.
struct TContextShaderVariable {
    std::string Name;
    TContextShaderVariableKind Kind = TContextShaderVariableKind::Float;
    int Index = -1;
    int Size = 0;
    int TextureUnit = -1;
    int ShaderKind = 0;

    static TContextShaderVariable Create(const std::string& AName, TContextShaderVariableKind AKind, int AIndex,
                                         int ASize);
};

// The code of a shader for one shading language, with its variables.
struct TContextShaderSource {
    TContextShaderArch Arch = TContextShaderArch::Undefined;
    std::vector<uint8_t> Code;
    std::vector<TContextShaderVariable> Variables;

    TContextShaderSource() = default;
    TContextShaderSource(TContextShaderArch AArch, const std::string& ACode,
                         std::vector<TContextShaderVariable> AVariables);
    bool IsDefined() const { return Arch != TContextShaderArch::Undefined; }
};

// A shader stage with its sources per shading language and, once compiled, the
// GPU handle of the compiled stage.
class TContextShader : public TObject {
    KORVANE_CLASS(TContextShader, TObject)

    TContextShader(TContextShaderKind AKind, std::string AName, std::vector<TContextShaderSource> ASources);
    // Deletes the compiled stage if there is one.
    ~TContextShader() override;

    TContextShaderKind Kind() const { return FKind; }
    const std::string& Name() const { return FName; }
    uintptr_t Handle() const { return FHandle; }
    void SetHandle(uintptr_t AHandle) { FHandle = AHandle; }
    // The source for that language; an undefined source when there is none.
    TContextShaderSource GetSourceByArch(TContextShaderArch AArch) const;
    const std::vector<TContextShaderSource>& Sources() const { return FSources; }
    // The text the shader was registered with besides its sources (may be empty).
    const std::string& OriginalSource() const { return FOriginalSource; }

private:
    friend class TShaderManager;
    TContextShaderKind FKind;
    std::string FName;
    std::vector<TContextShaderSource> FSources;
    std::string FOriginalSource;
    uintptr_t FHandle = 0;
};

// The program-wide registry of shaders by name. It owns the shaders it made.
class TShaderManager {
public:
    // The shader registered under AName, made on the first registration.
    // Registering a name again keeps the shader object (whoever holds it stays
    // valid) and replaces its sources; a compiled stage is deleted first, so the
    // next use compiles the new text. Raises EContext3DException when AName is
    // registered as another kind of shader.
    static TContextShader* RegisterShaderFromData(const std::string& AName, TContextShaderKind AKind,
                                                  const std::string& AOriginalSource,
                                                  const std::vector<TContextShaderSource>& ASources);
    // The shader registered under AName; nullptr when none.
    static TContextShader* FindShader(const std::string& AName);
    static int ShaderCount();
    // Frees the shader registered under AName (and its compiled stage); nothing when none.
    static void UnregisterShader(const std::string& AName);
    // Frees every registered shader; run at shut-down while the GL context still exists.
    static void UnInitialize();
};

class TContext3D;

// The metaclass of a context class: its virtual constructors and its class functions.
class TContextClass : public TMetaClass {
public:
    using TMetaClass::TMetaClass;

    // Virtual constructors: a context on a window or rendering into a texture.
    virtual TContext3D* CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight,
                                         TMultisample AMultisample, bool ADepthStencil) const;
    virtual TContext3D* CreateFromTexture(TTexture* ATexture, TMultisample AMultisample,
                                          bool ADepthStencil) const;

    // Texture life cycle (class procedures): make the GPU texture and its
    // storage, fill it with rows of pixels APitch bytes apart, delete it; and
    // the texture that carries a bitmap's pixels (a new object owned by the caller).
    virtual void DoInitializeTexture(TTexture* ATexture) const;
    virtual void DoUpdateTexture(TTexture* ATexture, const void* ABits, int APitch) const;
    virtual void DoFinalizeTexture(TTexture* ATexture) const;
    virtual TTexture* DoBitmapToTexture(TBitmap* ABitmap) const;

    // Shader life cycle (class procedures): compile the stage and store its GPU
    // handle in the shader; delete the compiled stage and clear the handle.
    virtual void DoInitializeShader(TContextShader* AShader) const;
    virtual void DoFinalizeShader(TContextShader* AShader) const;

    // Class functions.
    virtual TContextStyles Style() const { return {}; }
    virtual int MaxLightCount() const { return 0; }
    virtual int MaxTextureSize() const { return 0; }
    virtual int TextureUnitCount() const { return 0; }
    virtual TPixelFormat PixelFormat() const { return TPixelFormat::None; }

protected:
    // Runs a virtual constructor body on a new object; frees the object when the body fails.
    template <typename T, typename Body>
    static T* Construct(Body&& body)
    {
        return InitializeObject(new T(), std::forward<Body>(body));
    }
};

class TMaterial;

// The base of every render context.
//
// Scenes: BeginScene / EndScene nest per context; only the outermost pair runs
// DoBeginScene / DoEndScene. SceneCount is the number of contexts of the
// program that have a scene open.
//
// Matrices: the model matrix (CurrentMatrix), the camera matrix and the
// projection and screen matrices, which are recomputed on demand (through the
// virtual getters) after anything they depend on changed. The model-view-
// projection matrix is CurrentMatrix x camera x projection (row vectors).
class TContext3D : public TObject {
    KORVANE_CLASS(TContext3D, TObject)

    // The object's metaclass as a context class.
    const TContextClass& ContextClass() const { return static_cast<const TContextClass&>(*ClassType()); }

    // Virtual constructor bodies (run through the class reference).
    virtual void CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight, TMultisample AMultisample,
                                  bool ADepthStencil);
    virtual void CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil);

    TWindowHandle* Parent() const { return FParent; }
    TTexture* Texture() const { return FTexture; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    float Scale() const { return FScale; }
    TMultisample Multisample() const { return FMultisample; }
    bool DepthStencil() const { return FDepthStencil; }

    void SetSize(int AWidth, int AHeight);
    void CreateBuffer() { DoCreateBuffer(); }
    void FreeBuffer() { DoFreeBuffer(); }

    // --- scenes ------------------------------------------------------------

    // Opens a scene (the outermost call resets the model matrix and marks the
    // projection and screen matrices for recomputing, then asks DoBeginScene);
    // answers whether drawing may go on. Every True answer needs one EndScene.
    bool BeginScene();
    void EndScene();
    int BeginSceneCount() const { return FBeginSceneCount; }
    // How many contexts of the program have a scene open.
    static int SceneCount();

    // --- states ------------------------------------------------------------

    // Makes AState the current member of its group and applies it (DoSetContextState).
    void SetContextState(TContextState AState);
    // The current member of every group that has been set.
    TContextStates CurrentStates() const { return FCurrentStates; }
    // Saves the current states; PopContextStates applies the saved ones again.
    void PushContextStates();
    // Nothing when nothing was pushed.
    void PopContextStates();
    void SetStencilOp(TStencilOp AFail, TStencilOp AZFail, TStencilOp AZPass) { DoSetStencilOp(AFail, AZFail, AZPass); }
    void SetStencilFunc(TStencilFunc AFunc, uint32_t ARef, uint32_t AMask) { DoSetStencilFunc(AFunc, ARef, AMask); }
    void Clear(TClearTargets ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil)
    {
        DoClear(ATarget, AColor, ADepth, AStencil);
    }

    // --- matrices ----------------------------------------------------------

    const TMatrix3D& CurrentMatrix() const { return FCurrentMatrix; }
    void SetMatrix(const TMatrix3D& M);
    const TMatrix3D& CurrentCameraMatrix() const { return FCurrentCameraMatrix; }
    const TMatrix3D& CurrentCameraInvMatrix() const { return FCurrentCameraInvMatrix; }
    // The camera matrix's EyePosition, worked out when the camera is set:
    // materials hand it to their shaders on every draw.
    const TPoint3D& CurrentCameraEyePosition() const { return FCurrentCameraEyePosition; }
    void SetCameraMatrix(const TMatrix3D& M);
    // The camera's vertical field of view in degrees (45 until set).
    float CurrentAngleOfView() const { return FCurrentAngleOfView; }
    void SetCameraAngleOfView(float AAngle);
    // A matrix that replaces the computed projection when the context renders
    // into part of a larger target; the identity while it is not used.
    const TMatrix3D& RenderToMatrix() const { return FRenderToMatrix; }
    void SetRenderToMatrix(const TMatrix3D& M);
    // Whether the render-to matrix is in use (its m41 is not 0 or its m11 not 1).
    bool RenderToMatrixUsed() const { return FRenderToMatrix.m41 != 0 || FRenderToMatrix.m11 != 1; }
    // Offset of the view's centre in pixels.
    const TPointF& CenterOffset() const { return FCenterOffset; }
    void SetCenterOffset(const TPointF& AOffset);

    TMatrix3D CurrentProjectionMatrix() { return GetCurrentProjectionMatrix(); }
    const TMatrix3D& CurrentInvProjectionMatrix() { GetCurrentProjectionMatrix(); return FInvProjectionMatrix; }
    TMatrix3D CurrentScreenMatrix() { return GetCurrentScreenMatrix(); }
    const TMatrix3D& CurrentInvScreenMatrix() { GetCurrentScreenMatrix(); return FInvScreenMatrix; }
    // CurrentMatrix x camera x projection, recomputed when any of them changed.
    TMatrix3D CurrentModelViewProjectionMatrix();

    // The ray through the screen point (X, Y) in pixels: from the camera's eye
    // (Camera) or from the near plane (Screen), with a unit direction.
    void Pick(float X, float Y, TProjection AProj, TVector3D& RayPos, TVector3D& RayDir);

    // --- lights --------------------------------------------------------------

    std::vector<TLightDescription>& Lights() { return FLights; }
    const std::vector<TLightDescription>& Lights() const { return FLights; }

    // --- drawing -------------------------------------------------------------

    // Draws with AMaterial applied (when given) around DoDrawPrimitives.
    // Raises EArgumentException for negative sizes or counts.
    void DrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                        const TVertexDeclaration& VertexDeclaration, int VertexSize, int VertexCount, int IndexSize,
                        int IndexCount, TMaterial* AMaterial, float AOpacity);
    // The same for whole buffers; nothing for a null vertex buffer.
    void DrawPrimitives(TPrimitivesKind AKind, const TVertexBuffer* AVertices, const TIndexBuffer* AIndices,
                        TMaterial* AMaterial, float AOpacity);
    TMaterial* CurrentMaterial() const { return FCurrentMaterial; }
    float CurrentOpacity() const { return FCurrentOpacity; }
    // Which index sizes the context draws as they are.
    virtual TIndexBufferSupport GetIndexBufferSupport() { return TIndexBufferSupport::Int16; }

    // --- shaders -------------------------------------------------------------

    // Makes the two shaders the current ones, compiling each that has no GPU
    // handle yet through the context manager; nothing unless both are given.
    void SetShaders(TContextShader* VS, TContextShader* PS);
    // Set a variable of the current shaders: a matrix, vectors, a texture.
    void SetShaderVariable(const std::string& AName, const TMatrix3D& AMatrix) { DoSetShaderVariable(AName, AMatrix); }
    void SetShaderVariable(const std::string& AName, std::span<const TVector3D> AData)
    {
        DoSetShaderVariable(AName, AData);
    }
    void SetShaderVariable(const std::string& AName, std::initializer_list<TVector3D> AData)
    {
        DoSetShaderVariable(AName, std::span<const TVector3D>(AData.begin(), AData.size()));
    }
    void SetShaderVariable(const std::string& AName, TTexture* ATexture) { DoSetShaderVariable(AName, ATexture); }

    // Copies the pixels of ARect of the rendered frame: as BGRA rows APitch
    // bytes apart, top row first, or into ADest (which must be at least as large
    // as ARect). False when nothing was copied, so the pixels are not fresh.
    bool CopyToBits(void* ABits, int APitch, const TRect& ARect) { return DoCopyToBits(ABits, APitch, ARect); }
    bool CopyToBitmap(TBitmap* ADest, const TRect& ARect) { return DoCopyToBitmap(ADest, ARect); }

protected:
    virtual bool DoCopyToBits(void* ABits, int APitch, const TRect& ARect);
    // Maps ADest for writing and copies through DoCopyToBits.
    virtual bool DoCopyToBitmap(TBitmap* ADest, const TRect& ARect);
    virtual void InitContext() {}
    virtual void DoCreateBuffer() {}
    virtual void DoFreeBuffer() {}
    virtual void DoResize() {}
    // The context's buffers are freed while the object is still its most-derived class.
    void BeforeDestruction() override { FreeBuffer(); }

    virtual bool DoBeginScene() { return true; }
    virtual void DoEndScene() {}
    // Count this context's open scenes up and down (with SceneCount).
    void IncBeginSceneCount();
    void DecBeginSceneCount();

    virtual void DoSetContextState(TContextState) {}
    virtual void DoSetStencilOp(TStencilOp, TStencilOp, TStencilOp) {}
    virtual void DoSetStencilFunc(TStencilFunc, uint32_t, uint32_t) {}
    virtual void DoClear(TClearTargets, TAlphaColor, float, uint32_t) {}
    virtual void DoSetShaders(TContextShader*, TContextShader*) {}
    virtual void DoSetShaderVariable(const std::string&, const TMatrix3D&) {}
    virtual void DoSetShaderVariable(const std::string&, std::span<const TVector3D>) {}
    virtual void DoSetShaderVariable(const std::string&, TTexture*) {}

    // The projection and screen matrices: the base keeps the stored ones.
    virtual TMatrix3D GetCurrentProjectionMatrix();
    virtual TMatrix3D GetCurrentScreenMatrix();
    // The stored projection and screen matrices, their inverses and the marks
    // that ask for recomputing them. A change of the projection must also call
    // InvalidateMVP.
    void InvalidateMVP() { FRecalcMVP = true; }
    bool FRecalcProjectionMatrix = true;
    bool FRecalcScreenMatrix = true;
    TMatrix3D FProjectionMatrix = TMatrix3D::Identity();
    TMatrix3D FInvProjectionMatrix = TMatrix3D::Identity();
    TMatrix3D FScreenMatrix = TMatrix3D::Identity();
    TMatrix3D FInvScreenMatrix = TMatrix3D::Identity();

    // Applies AMaterial and hands it the model-view-projection, model-view and
    // inverse-transposed model-view matrices under the names it asks for.
    void ApplyMaterialWithMatrices(TMaterial* AMaterial);

    // A whole draw; the base checks the index size against GetIndexBufferSupport
    // and calls DoDrawPrimitivesBatch once.
    virtual void DoDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                  const TVertexDeclaration& VertexDeclaration, int VertexSize, int VertexCount,
                                  int IndexSize, int IndexCount);
    virtual void DoDrawPrimitivesBatch(TPrimitivesKind, const void*, const void*, const TVertexDeclaration&, int, int,
                                       int, int) {}

private:
    TWindowHandle* FParent = nullptr;
    TTexture* FTexture = nullptr;
    int FWidth = 0, FHeight = 0;
    float FScale = 1.0f;
    TMultisample FMultisample = TMultisample::None;
    bool FDepthStencil = false;

    int FBeginSceneCount = 0;
    TContextStates FCurrentStates;
    std::vector<TContextStates> FStateStack;

    TMatrix3D FCurrentMatrix = TMatrix3D::Identity();
    TMatrix3D FCurrentCameraMatrix = TMatrix3D::Identity();
    TPoint3D FCurrentCameraEyePosition{0, 0, 0}; // the identity's eye
    TMatrix3D FCurrentCameraInvMatrix = TMatrix3D::Identity();
    TMatrix3D FMVPMatrix = TMatrix3D::Identity();
    bool FRecalcMVP = true;
    float FCurrentAngleOfView = 45.0f;
    TMatrix3D FRenderToMatrix = TMatrix3D::Identity();
    TPointF FCenterOffset;

    std::vector<TLightDescription> FLights;
    TMaterial* FCurrentMaterial = nullptr;
    float FCurrentOpacity = 1.0f;
};

// Knows the registered context classes and which of them is the default one.
class TContextManager {
public:
    // Registers a class (once); with ADefault it becomes the default class.
    static void RegisterContext(const TContextClass& AClass, bool ADefault);
    // The default class: the last one registered as default, else the first one
    // registered; raises EContext3DException when no class is registered.
    // Inline and lock-free: every draw asks several times.
    static const TContextClass& DefaultContextClass()
    {
        if (const TContextClass* c = FDefaultClass.load(std::memory_order_acquire)) return *c;
        NoContextClass();
    }
    static std::vector<const TContextClass*> RegisteredClasses();

    static TContext3D* CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight,
                                        TMultisample AMultisample, bool ADepthStencil);
    static TContext3D* CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil);
    // The shader life cycle of the default class.
    static void InitializeShader(TContextShader* AShader);
    static void FinalizeShader(TContextShader* AShader);

private:
    [[noreturn]] static void NoContextClass();
    // What DefaultContextClass answers, set by every registration under the
    // registry's lock. Constant-initialised: no start-up code.
    static constinit inline std::atomic<const TContextClass*> FDefaultClass{nullptr};
};

} // namespace korvane
