#include "Korvane.Context.Extension.OpenGL.h"

#include <epoxy/gl.h>

#include "Korvane.Context.Types.h"
#include "Korvane.GL.Internal.h"

namespace korvane {

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
    DrainStaleGLErrors("TOpenGLExtensions.ReadExtensions");
    const std::string text = GLString(GL_EXTENSIONS);
    if (HasGLErrors()) return; // the list stays empty
    ParseExtensionList(text);
    FRenderer = UpperCase(GLString(GL_RENDERER));
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
