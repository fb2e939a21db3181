#include "Korvane.GL.Internal.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <utility>

#include "Korvane.Context.FrameBuffers.h"
#include "Korvane.Context.Types.h"
#include "Korvane.Context.h"
#include "Platform.EGL.h"
#include "Platform.Log.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Errors

uint32_t DrainGLErrors(TGLErrorReader AReadError)
{
    // Bounded: a broken driver that never stops reporting must not hang us.
    uint32_t result = 0;
    for (int i = 0; i < 16; ++i) {
        const uint32_t code = AReadError();
        if (code == 0) break;
        result |= code;
    }
    return result;
}

uint32_t ClearGLErrors()
{
    // Asked after every draw and every shader-variable set: the usual answer,
    // no error, takes one call.
    const uint32_t first = glGetError();
    if (first == 0) return 0;
    return first | DrainGLErrors([]() -> uint32_t { return glGetError(); });
}

bool HasGLErrors() { return ClearGLErrors() != 0; }

void DrainStaleGLErrors(std::string_view AOperation)
{
    if (const uint32_t stale = ClearGLErrors())
        Log::d("<WARNING> %s: OpenGL error %d was pending before the operation and is ignored", std::string(AOperation),
               stale);
}

// ---------------------------------------------------------------------------
// Queries

bool GLContextCurrent() { return platform::EGLDevice::HasCurrentContext(); }

std::string GLString(GLenum AName)
{
    const auto* text = reinterpret_cast<const char*>(glGetString(AName));
    return text ? std::string(text) : std::string();
}

GLint GLInteger(GLenum AName)
{
    GLint value = 0;
    glGetIntegerv(AName, &value);
    return value;
}

// ---------------------------------------------------------------------------
// Labels

namespace {
GLenum LabelNamespace(TGLObjectKind AKind)
{
    switch (AKind) {
    case TGLObjectKind::Buffer: return GL_BUFFER;
    case TGLObjectKind::FrameBuffer: return GL_FRAMEBUFFER;
    case TGLObjectKind::RenderBuffer: return GL_RENDERBUFFER;
    case TGLObjectKind::Texture: return GL_TEXTURE;
    case TGLObjectKind::Program: return GL_PROGRAM;
    case TGLObjectKind::Shader: return GL_SHADER;
    }
    return GL_BUFFER;
}

// Every implementation takes labels of at least this many characters.
constexpr size_t MinMaxLabelLength = 256;
} // namespace

bool HasGLDebug()
{
    return GLContextCurrent() && epoxy_is_desktop_gl() &&
           (epoxy_gl_version() >= 43 || epoxy_has_gl_extension("GL_KHR_debug"));
}

void LabelGLObject(TGLObjectKind AKind, GLuint AName, std::string_view ALabel)
{
    if (AName == 0 || !HasGLDebug()) return;
    const size_t length = std::min(ALabel.size(), MinMaxLabelLength - 1);
    glObjectLabel(LabelNamespace(AKind), AName, static_cast<GLsizei>(length), ALabel.data());
}

// ---------------------------------------------------------------------------
// TGLName

namespace {
// The binding query of a texture target; 0 for one the framework does not use.
GLenum TextureBindingOf(GLenum ATarget)
{
    switch (ATarget) {
    case GL_TEXTURE_1D: return GL_TEXTURE_BINDING_1D;
    case GL_TEXTURE_2D: return GL_TEXTURE_BINDING_2D;
    case GL_TEXTURE_3D: return GL_TEXTURE_BINDING_3D;
    case GL_TEXTURE_CUBE_MAP: return GL_TEXTURE_BINDING_CUBE_MAP;
    case GL_TEXTURE_2D_ARRAY: return GL_TEXTURE_BINDING_2D_ARRAY;
    case GL_TEXTURE_2D_MULTISAMPLE: return GL_TEXTURE_BINDING_2D_MULTISAMPLE;
    case GL_TEXTURE_RECTANGLE: return GL_TEXTURE_BINDING_RECTANGLE;
    default: return 0;
    }
}

// A generated name becomes an object on its first bind; the binding it
// replaced comes back.
GLuint GenerateBound(TGLObjectKind AKind, GLenum ATarget)
{
    GLuint name = 0;
    switch (AKind) {
    case TGLObjectKind::Buffer: {
        glGenBuffers(1, &name);
        // The copy-write target is part of no other state (no vertex array,
        // no pixel transfer), so binding it for a moment disturbs nothing.
        const GLint previous = GLInteger(GL_COPY_WRITE_BUFFER_BINDING);
        glBindBuffer(GL_COPY_WRITE_BUFFER, name);
        glBindBuffer(GL_COPY_WRITE_BUFFER, static_cast<GLuint>(previous));
        break;
    }
    case TGLObjectKind::FrameBuffer: {
        // The frame-buffer-object extension's entry points make and bind frame buffers.
        glGenFramebuffersEXT(1, &name);
        const GLint draw = GLInteger(GL_DRAW_FRAMEBUFFER_BINDING);
        const GLint read = GLInteger(GL_READ_FRAMEBUFFER_BINDING);
        glBindFramebufferEXT(GL_FRAMEBUFFER, name);
        // The draw and read bindings may differ: each comes back on its own.
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(draw));
        glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read));
        break;
    }
    case TGLObjectKind::RenderBuffer: {
        glGenRenderbuffersEXT(1, &name);
        const GLint previous = GLInteger(GL_RENDERBUFFER_BINDING);
        glBindRenderbufferEXT(GL_RENDERBUFFER, name);
        glBindRenderbufferEXT(GL_RENDERBUFFER, static_cast<GLuint>(previous));
        break;
    }
    case TGLObjectKind::Texture: {
        glGenTextures(1, &name);
        if (const GLenum binding = TextureBindingOf(ATarget)) {
            TGLTextureBindingScope restore(binding, ATarget);
            glBindTexture(ATarget, name);
        }
        break;
    }
    case TGLObjectKind::Program: name = glCreateProgram(); break;
    case TGLObjectKind::Shader: name = glCreateShader(ATarget); break;
    }
    return name;
}
} // namespace

TGLName TGLName::Create(TGLObjectKind AKind, std::string_view ALabel, uint32_t ATarget)
{
    TGLName result(AKind, GenerateBound(AKind, ATarget));
    result.Label(ALabel);
    return result;
}

TGLName& TGLName::operator=(TGLName&& AOther) noexcept
{
    if (this != &AOther) {
        Reset();
        FKind = AOther.FKind;
        FName = AOther.Release();
    }
    return *this;
}

GLuint TGLName::Release() noexcept { return std::exchange(FName, 0); }

void TGLName::Reset() noexcept
{
    const GLuint name = Release();
    if (name == 0 || !GLContextCurrent()) return;
    switch (FKind) {
    case TGLObjectKind::Buffer: glDeleteBuffers(1, &name); break;
    case TGLObjectKind::FrameBuffer: glDeleteFramebuffers(1, &name); break;
    case TGLObjectKind::RenderBuffer: glDeleteRenderbuffers(1, &name); break;
    case TGLObjectKind::Texture: glDeleteTextures(1, &name); break;
    case TGLObjectKind::Program: glDeleteProgram(name); break;
    case TGLObjectKind::Shader: glDeleteShader(name); break;
    }
}

void TGLName::Label(std::string_view ALabel) const { LabelGLObject(FKind, FName, ALabel); }

// ---------------------------------------------------------------------------
// Scopes

TGLTextureBindingScope::TGLTextureBindingScope(GLenum ABindingQuery, GLenum ATarget) : FTarget(ATarget)
{
    glGetIntegerv(GL_ACTIVE_TEXTURE, &FActiveUnit);
    glGetIntegerv(ABindingQuery, &FBinding);
}

TGLTextureBindingScope::~TGLTextureBindingScope()
{
    // The binding belongs to the unit that was active when it was read.
    if (GLInteger(GL_ACTIVE_TEXTURE) != FActiveUnit) glActiveTexture(static_cast<GLenum>(FActiveUnit));
    glBindTexture(FTarget, static_cast<GLuint>(FBinding));
}

TGLPackedPixelStoreScope::TGLPackedPixelStoreScope()
{
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &FPackBuffer);
    glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &FUnpackBuffer);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    for (GLenum name : {GL_PACK_ROW_LENGTH, GL_PACK_SKIP_ROWS, GL_PACK_SKIP_PIXELS, GL_PACK_IMAGE_HEIGHT,
                        GL_PACK_SKIP_IMAGES, GL_UNPACK_ROW_LENGTH, GL_UNPACK_SKIP_ROWS, GL_UNPACK_SKIP_PIXELS,
                        GL_UNPACK_IMAGE_HEIGHT, GL_UNPACK_SKIP_IMAGES, GL_PACK_SWAP_BYTES, GL_UNPACK_SWAP_BYTES,
                        GL_PACK_LSB_FIRST, GL_UNPACK_LSB_FIRST})
        glPixelStorei(name, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (FPackBuffer) glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    if (FUnpackBuffer) glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
}

TGLPackedPixelStoreScope::~TGLPackedPixelStoreScope()
{
    glPopClientAttrib();
    if (FPackBuffer) glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(FPackBuffer));
    if (FUnpackBuffer) glBindBuffer(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(FUnpackBuffer));
}

TPixelStateScope::TPixelStateScope(int AWidth, int AHeight, int ADepth, int ABytesPerPixel, int APitch)
{
    TKorvaneContext::SetPixelState(AWidth, AHeight, ADepth, ABytesPerPixel, APitch);
}

TPixelStateScope::~TPixelStateScope() { TKorvaneContext::UnsetPixelState(); }

TGLFrameBufferBindScope::TGLFrameBufferBindScope(TFrameBufferObject* AFBO, TContext3D* AContext)
    : FFBO(AFBO), FContext(AContext)
{
    FFBO->Bind(FContext);
}

TGLFrameBufferBindScope::~TGLFrameBufferBindScope() { FFBO->Unbind(FContext); }

} // namespace korvane
