#pragma once
// OpenGL helpers shared by the framework's OpenGL units: draining errors, GL
// string and integer queries, the scopes that put GL state back, the owned GL
// name and debug labels. Not a unit of the design: only the OpenGL units use
// it. It speaks in plain integers, so the OpenGL units' headers can hold GL
// names without bringing in the GL headers.
//
// Everything here runs on the thread whose OpenGL context is current.

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane {

class TContext3D;
class TFrameBufferObject;

// ---------------------------------------------------------------------------
// Errors (ClearGLErrors and HasGLErrors are declared with the neutral records)

// Reads errors through AReadError until it answers 0 or 16 reads were made;
// answers the OR of the codes read. ClearGLErrors reads glGetError.
using TGLErrorReader = uint32_t (*)();
uint32_t DrainGLErrors(TGLErrorReader AReadError);

// Drains OpenGL errors that an earlier call left pending, so that they are not
// taken for a failure of AOperation; a drained error is logged as a warning.
void DrainStaleGLErrors(std::string_view AOperation);

// ---------------------------------------------------------------------------
// Queries

// True when an OpenGL context is current on the calling thread; GL calls need one.
bool GLContextCurrent();
// glGetString as text; empty when GL answers nothing.
std::string GLString(uint32_t AName);
// glGetIntegerv of a single value.
int32_t GLInteger(uint32_t AName);

// ---------------------------------------------------------------------------
// Owned GL names

// The kinds of GL object the framework makes; each has its own create and
// delete calls and its own debug-label namespace.
enum class TGLObjectKind : uint8_t { Buffer, FrameBuffer, RenderBuffer, Texture, Program, Shader };

// A GL object's name that deletes the object when it goes. Move-only;
// Release() hands the name over without deleting it. Deleting needs a current
// context: without one the name is dropped (the context, and its objects,
// are gone or belong to another thread).
class TGLName {
public:
    TGLName() noexcept = default;
    // Takes over AName, an object of AKind made elsewhere (0 holds nothing).
    TGLName(TGLObjectKind AKind, uint32_t AName) noexcept : FKind(AKind), FName(AName) {}
    // Makes a new object of AKind and labels it with ALabel. ATarget is the
    // bind target of a texture and the type of a shader; the other kinds
    // ignore it. Generated names are bound once (and the binding put back) so
    // that the object exists at once, as labels and queries need.
    static TGLName Create(TGLObjectKind AKind, std::string_view ALabel, uint32_t ATarget = 0);

    ~TGLName() { Reset(); }
    TGLName(TGLName&& AOther) noexcept : FKind(AOther.FKind), FName(AOther.Release()) {}
    TGLName& operator=(TGLName&& AOther) noexcept;
    TGLName(const TGLName&) = delete;
    TGLName& operator=(const TGLName&) = delete;

    uint32_t Get() const noexcept { return FName; }
    explicit operator bool() const noexcept { return FName != 0; }
    TGLObjectKind Kind() const noexcept { return FKind; }
    // Forgets the name without deleting the object and answers it.
    uint32_t Release() noexcept;
    // Deletes the object now (when there is one) and holds nothing.
    void Reset() noexcept;
    // Labels the object (see LabelGLObject).
    void Label(std::string_view ALabel) const;

private:
    TGLObjectKind FKind = TGLObjectKind::Buffer;
    uint32_t FName = 0;
};

// Gives an object a debug label, "Class.Role" such as "TMeshBufferObject.Vertex",
// when the context has KHR_debug (core from GL 4.3); nothing otherwise or for
// name 0. Labels longer than GL takes are cut.
void LabelGLObject(TGLObjectKind AKind, uint32_t AName, std::string_view ALabel);
// True when the current context takes debug labels and messages.
bool HasGLDebug();

// ---------------------------------------------------------------------------
// Scopes

// Remembers the active texture unit and the texture bound to a target on it,
// and puts both back when it ends.
class TGLTextureBindingScope {
public:
    TGLTextureBindingScope(uint32_t ABindingQuery, uint32_t ATarget);
    ~TGLTextureBindingScope();
    TGLTextureBindingScope(const TGLTextureBindingScope&) = delete;
    TGLTextureBindingScope& operator=(const TGLTextureBindingScope&) = delete;

private:
    uint32_t FTarget;
    int32_t FBinding = 0;
    int32_t FActiveUnit = 0;
};

// Tightly packed client memory for the life of the scope: pixel rows one byte
// aligned, no row length, no skips, no pixel buffer objects bound; everything
// is put back when the scope ends.
class TGLPackedPixelStoreScope {
public:
    TGLPackedPixelStoreScope();
    ~TGLPackedPixelStoreScope();
    TGLPackedPixelStoreScope(const TGLPackedPixelStoreScope&) = delete;
    TGLPackedPixelStoreScope& operator=(const TGLPackedPixelStoreScope&) = delete;

private:
    int32_t FPackBuffer = 0;
    int32_t FUnpackBuffer = 0;
};

// The context's pixel store set for an upload while alive, and unset again
// also when the upload fails.
class TPixelStateScope {
public:
    TPixelStateScope(int AWidth, int AHeight, int ADepth, int ABytesPerPixel, int APitch);
    ~TPixelStateScope();
    TPixelStateScope(const TPixelStateScope&) = delete;
    TPixelStateScope& operator=(const TPixelStateScope&) = delete;
};

// A frame buffer bound for the life of the scope.
class TGLFrameBufferBindScope {
public:
    TGLFrameBufferBindScope(TFrameBufferObject* AFBO, TContext3D* AContext);
    ~TGLFrameBufferBindScope();
    TGLFrameBufferBindScope(const TGLFrameBufferBindScope&) = delete;
    TGLFrameBufferBindScope& operator=(const TGLFrameBufferBindScope&) = delete;

private:
    TFrameBufferObject* FFBO;
    TContext3D* FContext;
};

} // namespace korvane
