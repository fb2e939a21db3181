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

#include "Platform.Classes.h"
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

// A set of values of an enumeration with at most 64 members (a Pascal-style set).
template <typename E>
class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> values)
    {
        for (auto v : values) FBits |= Bit(v);
    }
    constexpr bool Contains(E v) const { return (FBits & Bit(v)) != 0; }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr void Include(E v) { FBits |= Bit(v); }
    constexpr void Exclude(E v) { FBits &= ~Bit(v); }
    constexpr uint64_t Bits() const { return FBits; }
    constexpr bool operator==(const TEnumSet&) const = default;

private:
    static constexpr uint64_t Bit(E v) { return uint64_t(1) << static_cast<unsigned>(v); }
    uint64_t FBits = 0;
};

enum class TContextStyle : uint8_t { RenderTargetFlipped, Fragile };
using TContextStyles = TEnumSet<TContextStyle>;

// The shading language a context compiles.
enum class TContextShaderArch : uint8_t { Undefined, DX9, DX10, DX11_level_9, DX11, GLSL, Metal };

// Pixel layouts of textures and bitmaps.
enum class TPixelFormat : uint8_t {
    None, RGB, RGBA, BGR, BGRA, RGBA16, BGR_565, BGRA4, BGR4, BGR5_A1, BGR5, BGR10_A2, RGB10_A2,
    L, LA, LA4, L16, A, R16F, RG16F, RGBA16F, R32F, RG32F, RGBA32F
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
public:
    std::string ClassName() const override { return "TTexture"; }
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

class TContext3D;

// The class reference of a context class: its name, its parent class, its
// virtual constructors and its class functions.
class TContextClass {
public:
    TContextClass() = default;
    TContextClass(const TContextClass&) = delete;
    TContextClass& operator=(const TContextClass&) = delete;
    virtual ~TContextClass() = default;

    virtual std::string ClassName() const = 0;
    virtual const TContextClass* ClassParent() const = 0;
    // True when this class is `other` or derives from it.
    bool InheritsFrom(const TContextClass& other) const;

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
public:
    // The class reference of the object's class.
    virtual const TContextClass& ClassType() const = 0;
    std::string ClassName() const override { return ClassType().ClassName(); }

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
