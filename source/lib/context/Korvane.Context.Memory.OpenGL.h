#pragma once
// The GPU memory query on OpenGL, through the NVX memory-information values.
// Loading this unit installs TOpenGLMemoryManager as MemoryManagerClass.

#include "Korvane.Context.Memory.h"

namespace korvane {

class TOpenGLMemoryManagerClass : public TKorvaneMemoryManagerClass {
public:
    using TKorvaneMemoryManagerClass::TKorvaneMemoryManagerClass;
    // GL_GPU_MEMORY_INFO_TOTAL_AVAILABLE_MEMORY_NVX; 0 on a driver without the extension.
    int64_t GetPlatformTotalMemory() const override;
    // GL_GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX; 0 on a driver without the extension.
    int64_t GetPlatformCurrentMemory() const override;
};

class TOpenGLMemoryManager : public TKorvaneMemoryManager {
    KORVANE_CLASS(TOpenGLMemoryManager, TKorvaneMemoryManager)

    static const TOpenGLMemoryManagerClass& ClassInfo()
    {
        return static_cast<const TOpenGLMemoryManagerClass&>(*StaticClass());
    }
};

} // namespace korvane
