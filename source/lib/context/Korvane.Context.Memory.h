#pragma once
// The GPU memory query: class functions only, answered by the class that the
// OpenGL unit installs in MemoryManagerClass at start-up.

#include <cstdint>
#include <string>

#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"

namespace korvane {

// The metaclass of TKorvaneMemoryManager and its descendants (never instantiated).
class TKorvaneMemoryManagerClass : public TMetaClass {
public:
    using TMetaClass::TMetaClass;
    // Total and free video memory in kilobytes (abstract here).
    virtual int64_t GetPlatformTotalMemory() const;
    virtual int64_t GetPlatformCurrentMemory() const;
};

class TKorvaneMemoryManager : public TObject {
    KORVANE_CLASS(TKorvaneMemoryManager, TObject)

    static const TKorvaneMemoryManagerClass& ClassInfo()
    {
        return static_cast<const TKorvaneMemoryManagerClass&>(*StaticClass());
    }
    // MemoryManagerClass's answers.
    static int64_t GetTotalMemory();
    static int64_t GetCurrentMemory();
};

// Null at load; TOpenGLMemoryManager while the OpenGL unit is loaded.
extern const TKorvaneMemoryManagerClass* MemoryManagerClass;

} // namespace korvane
