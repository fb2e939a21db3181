#pragma once
// The GPU extension list read from OpenGL. Loading this unit installs
// TOpenGLExtensions as ExtensionsClass.

#include "Korvane.Context.Extension.h"

namespace korvane {

class TOpenGLExtensions : public TExtensions {
public:
    static const TExtensionsClass& ClassInfo();
    std::string ClassName() const override { return "TOpenGLExtensions"; }

protected:
    // Needs the GL context to be current.
    void ReadExtensions() override;
};

} // namespace korvane
