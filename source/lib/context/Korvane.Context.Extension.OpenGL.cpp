#include "Korvane.Context.Extension.OpenGL.h"

#include <epoxy/gl.h>

#include "Korvane.Context.Types.OpenGL.h"
#include "Platform.Log.h"

namespace korvane {

namespace {
std::string GLText(GLenum name)
{
    const auto* text = reinterpret_cast<const char*>(glGetString(name));
    return text ? std::string(text) : std::string();
}

} // namespace

TExtensions* TOpenGLExtensionsClass::Create() const { return Construct<TOpenGLExtensions>(); }

TClass TOpenGLExtensions::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TOpenGLExtensions, TOpenGLExtensionsClass>("Korvane.Context.Extension.OpenGL");
    return &info;
}

void TOpenGLExtensions::ReadExtensions()
{
    // An error left behind by someone else must not be taken for a failure of
    // this query: that would leave the list empty for the rest of the run.
    if (const uint32_t stale = ClearGLErrors())
        Log::d("<WARNING> TOpenGLExtensions.ReadExtensions: OpenGL error %d was pending before the query", stale);
    const std::string text = GLText(GL_EXTENSIONS);
    if (HasGLErrors()) return; // the list stays empty
    ParseExtensionList(text);
    FRenderer = UpperCase(GLText(GL_RENDERER));
}

namespace units {
void ExtensionOpenGLInitialize()
{
    ExtensionsClass = &TOpenGLExtensions::ClassInfo();
}
void ExtensionOpenGLFinalize()
{
    ExtensionsClass = &TExtensions::ClassInfo();
}
} // namespace units

} // namespace korvane
