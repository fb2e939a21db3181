#pragma once
// The GPU extension list of the render context: an abstract class here and an
// OpenGL class in its own unit, joined by the class reference ExtensionsClass,
// which the OpenGL unit sets at start-up.

#include <string>
#include <vector>

#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"

namespace korvane {

class TExtensions;

// The metaclass of TExtensions and its descendants.
class TExtensionsClass : public TMetaClass {
public:
    using TMetaClass::TMetaClass;
    // A new extensions object of this class with its list read.
    virtual TExtensions* Create() const;

protected:
    template <typename T>
    static TExtensions* Construct()
    {
        return InitializeObject(new T(), [](T* object) { object->Init(); });
    }
};

class TExtensions : public TObject {
    KORVANE_CLASS(TExtensions, TObject)
    friend class TExtensionsClass;

    static const TExtensionsClass& ClassInfo() { return static_cast<const TExtensionsClass&>(*StaticClass()); }

    // Whether the list holds AName, compared without regard to case.
    bool Extension(const std::string& AName) const;
    // The renderer's name in upper case.
    const std::string& Renderer() const { return FRenderer; }
    // The extension names, sorted without regard to case.
    const std::vector<std::string>& Extensions() const { return FExtensions; }

protected:
    // Fills the list and the renderer name.
    virtual void ReadExtensions();
    // Adds the blank-separated names of AText (empty pieces name nothing), then
    // sorts the list and drops repeated names.
    void ParseExtensionList(const std::string& AText);
    void Sort();

    std::vector<std::string> FExtensions;
    std::string FRenderer;

private:
    // The constructor's second half: reads the list.
    void Init() { ReadExtensions(); }
};

// The class through which the context creates its extensions object; null at
// load, TOpenGLExtensions while the OpenGL unit is loaded.
extern const TExtensionsClass* ExtensionsClass;

} // namespace korvane
