#include "Korvane.Context.GLES.h"

#include <epoxy/gl.h>

#include "Korvane.Context.Types.OpenGL.h"

namespace korvane {

int ClientAttribStackDepth = 0;

namespace {
// 0 until first asked; then 2000 (EXT), 1000 (ARB) or 1 (none).
int GDirectStateAccess = 0;

std::string GLText(GLenum name)
{
    if (!TKorvaneContext::IsContextAvailable()) return {};
    const auto* text = reinterpret_cast<const char*>(glGetString(name));
    return text ? std::string(text) : std::string();
}

// A limit of the GL context; 0 when no GL context can be used.
int GLInteger(GLenum name)
{
    if (!TKorvaneContext::IsContextAvailable()) return 0;
    GLint value = 0;
    glGetIntegerv(name, &value);
    return value;
}
} // namespace

bool TKorvaneContextOpenGLESClass::Valid() const { return TKorvaneContext::IsContextAvailable(); }

int TKorvaneContextOpenGLESClass::PlatformDirectStateAccess() const
{
    if (GDirectStateAccess == 0) {
        // Without a GL context there is no list to ask yet: answer "none" and ask again later.
        if (!TKorvaneContext::Extensions()) return 1;
        if (TKorvaneContext::HasExtension("GL_EXT_direct_state_access")) GDirectStateAccess = 2000;
        else if (TKorvaneContext::HasExtension("GL_ARB_direct_state_access")) GDirectStateAccess = 1000;
        else GDirectStateAccess = 1;
    }
    return GDirectStateAccess;
}

void TKorvaneContextOpenGLESClass::PlatformSetPixelState(int, int, int, int, int) const {}

void TKorvaneContextOpenGLESClass::PlatformUnsetPixelState() const
{
    if (ClientAttribStackDepth <= 0 || !TKorvaneContext::IsContextAvailable()) return;
    glPopClientAttrib();
    GLint depth = 0;
    glGetIntegerv(GL_CLIENT_ATTRIB_STACK_DEPTH, &depth);
    ClientAttribStackDepth = depth;
}

std::string TKorvaneContextOpenGLESClass::PlatformGetVendorName() const { return GLText(GL_VENDOR); }
std::string TKorvaneContextOpenGLESClass::PlatformGetRendererName() const { return GLText(GL_RENDERER); }
std::string TKorvaneContextOpenGLESClass::PlatformGetVersion() const { return GLText(GL_VERSION); }
std::string TKorvaneContextOpenGLESClass::PlatformGetExtensionString() const { return GLText(GL_EXTENSIONS); }

bool TKorvaneContextOpenGLESClass::PlatformHasAnyErrors() const
{
    return TKorvaneContext::IsContextAvailable() && HasGLErrors();
}

bool TKorvaneContextOpenGLESClass::PlatformHasAnyErrors(intptr_t& AError) const
{
    AError = TKorvaneContext::IsContextAvailable() ? static_cast<intptr_t>(ClearGLErrors()) : 0;
    return AError != 0;
}

int TKorvaneContextOpenGLESClass::PlatformMaxTextureSize() const
{
    return Valid() ? GLInteger(GL_MAX_TEXTURE_SIZE) : 0;
}

int TKorvaneContextOpenGLESClass::PlatformMaxTexture3DSize() const
{
    return Valid() ? GLInteger(GL_MAX_3D_TEXTURE_SIZE) : 0;
}

int TKorvaneContextOpenGLESClass::PlatformTextureUnitCount() const
{
    return Valid() ? GLInteger(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS) : 0;
}

int TKorvaneContextOpenGLESClass::PlatformMaxTextureImageUnits() const { return GLInteger(GL_MAX_TEXTURE_IMAGE_UNITS); }

int TKorvaneContextOpenGLESClass::PlatformMaxVertexShaderUniformBlocks() const
{
    return GLInteger(GL_MAX_VERTEX_UNIFORM_BLOCKS);
}

int TKorvaneContextOpenGLESClass::PlatformMaxFragmentShaderUniformBlocks() const
{
    return GLInteger(GL_MAX_FRAGMENT_UNIFORM_BLOCKS);
}

int TKorvaneContextOpenGLESClass::PlatformMaxUniformBlockSize() const { return GLInteger(GL_MAX_UNIFORM_BLOCK_SIZE); }

int TKorvaneContextOpenGLESClass::PlatformMaxDrawBuffers() const { return GLInteger(GL_MAX_DRAW_BUFFERS); }

TClass TKorvaneContextOpenGLES::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TKorvaneContextOpenGLES, TKorvaneContextOpenGLESClass>("Korvane.Context.GLES");
    return &info;
}

} // namespace korvane
