#pragma once
// The 3D context layer of the platform: the context base class that every render
// context derives from, the class references ("metaclasses") through which
// contexts are constructed and asked about their capabilities, and the context
// manager that knows which class is the default one.
//
// A context class is described by one metaclass object (a TContextClass); its
// virtual members are the class functions and the virtual constructors. The
// constructors are two-phase: the metaclass allocates the object, then runs its
// virtual constructor body (CreateFromWindow / CreateFromTexture), so constructor
// bodies may call virtual operations of the most-derived class. An exception from
// a constructor body frees the half-made object and passes on.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "Platform.Math3D.h"
#include "Platform.MeshBuffers.h"
#include "Platform.SysUtils.h"

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

enum class TMultisample : uint8_t { None, TwoSamples, FourSamples };

enum class TContextStyle : uint8_t { RenderTargetFlipped, Fragile };
using TContextStyles = TSet<TContextStyle>;

// The shading language a context compiles.
enum class TContextShaderArch : uint8_t { Undefined, DX9, DX10, DX11_level_9, DX11, GLSL, Metal };

// Pixel layouts of textures and bitmaps.
enum class TPixelFormat : uint8_t {
    None, RGB, RGBA, BGR, BGRA, RGBA16, BGR_565, BGRA4, BGR4, BGR5_A1, BGR5, BGR10_A2, RGB10_A2,
    L, LA, LA4, L16, A, R16F, RG16F, RGBA16F, R32F, RG32F, RGBA32F
};

// ---------------------------------------------------------------------------
// Lights

enum class TLightType : uint8_t { Directional, Point, Spot };

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

// A GPU texture as the context layer sees it: a size, a pixel format and the
// GPU name once it has been made. Texture contexts render into one.
class TTexture : public TObject {
    KORVANE_CLASS(TTexture, TObject)

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetSize(int width, int height)
    {
        FWidth = width;
        FHeight = height;
    }
    TPixelFormat PixelFormat() const { return FPixelFormat; }
    void SetPixelFormat(TPixelFormat format) { FPixelFormat = format; }
    uintptr_t Handle() const { return FHandle; }
    void SetHandle(uintptr_t handle) { FHandle = handle; }

private:
    int FWidth = 0, FHeight = 0;
    TPixelFormat FPixelFormat = TPixelFormat::BGRA;
    uintptr_t FHandle = 0;
};

// ---------------------------------------------------------------------------
// Vertex buffers

// TVertexFormat, TVertexFormats, TVertexBuffer, TIndexBuffer and TMeshData live in
// Platform.MeshBuffers.h.

// ---------------------------------------------------------------------------
// Shaders

enum class TContextShaderKind : uint8_t { VertexShader, PixelShader };
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

    TContextShaderKind Kind() const { return FKind; }
    const std::string& Name() const { return FName; }
    uintptr_t Handle() const { return FHandle; }
    void SetHandle(uintptr_t AHandle) { FHandle = AHandle; }
    // The source for that language; an undefined source when there is none.
    TContextShaderSource GetSourceByArch(TContextShaderArch AArch) const;

private:
    TContextShaderKind FKind;
    std::string FName;
    std::vector<TContextShaderSource> FSources;
    uintptr_t FHandle = 0;
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
        T* object = new T();
        try {
            body(object);
        } catch (...) {
            object->Free();
            throw;
        }
        return object;
    }
};

// The base of every render context.
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

protected:
    virtual void InitContext() {}
    virtual void DoCreateBuffer() {}
    virtual void DoFreeBuffer() {}
    virtual void DoResize() {}
    // The context's buffers are freed while the object is still its most-derived class.
    void BeforeDestruction() override { FreeBuffer(); }

private:
    TWindowHandle* FParent = nullptr;
    TTexture* FTexture = nullptr;
    int FWidth = 0, FHeight = 0;
    float FScale = 1.0f;
    TMultisample FMultisample = TMultisample::None;
    bool FDepthStencil = false;
};

// Knows the registered context classes and which of them is the default one.
class TContextManager {
public:
    // Registers a class (once); with ADefault it becomes the default class.
    static void RegisterContext(const TContextClass& AClass, bool ADefault);
    // The default class: the last one registered as default, else the first one
    // registered; raises EContext3DException when no class is registered.
    static const TContextClass& DefaultContextClass();
    static std::vector<const TContextClass*> RegisteredClasses();

    static TContext3D* CreateFromWindow(TWindowHandle* AParent, int AWidth, int AHeight,
                                        TMultisample AMultisample, bool ADepthStencil);
    static TContext3D* CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil);
};

} // namespace korvane
