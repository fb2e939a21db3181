#pragma once
// The GPU extension list read from OpenGL. Loading this unit installs
// TOpenGLExtensions as ExtensionsClass.

#include "Korvane.Context.Extension.h"

namespace korvane {

class TOpenGLExtensionsClass : public TExtensionsClass {
public:
    using TExtensionsClass::TExtensionsClass;
    TExtensions* Create() const override;
};

class TOpenGLExtensions : public TExtensions {
    KORVANE_CLASS(TOpenGLExtensions, TExtensions)
    friend class TOpenGLExtensionsClass;

    static const TOpenGLExtensionsClass& ClassInfo()
    {
        return static_cast<const TOpenGLExtensionsClass&>(*StaticClass());
    }

protected:
    // Needs the GL context to be current.
    void ReadExtensions() override;
};

} // namespace korvane
