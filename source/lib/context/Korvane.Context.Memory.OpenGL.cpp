#include "Korvane.Context.Memory.OpenGL.h"

#include <epoxy/gl.h>

#include "Korvane.Context.h"
#include "Korvane.GL.Internal.h"

namespace korvane {

namespace {
// The memory-information values of the NVX extension.
constexpr GLenum GL_GPU_MEMORY_INFO_TOTAL_AVAILABLE_MEMORY_NVX_ = 0x9048;
constexpr GLenum GL_GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX_ = 0x9049;

// A driver without the extension would answer the query with GL_INVALID_ENUM and
// leave that error pending for whoever checks next, so it is not asked.
int64_t MemoryValue(GLenum name)
{
    if (!TKorvaneContext::HasExtension("GL_NVX_gpu_memory_info")) return 0;
    return static_cast<int64_t>(GLInteger(name));
}

} // namespace

int64_t TOpenGLMemoryManagerClass::GetPlatformTotalMemory() const
{
    return MemoryValue(GL_GPU_MEMORY_INFO_TOTAL_AVAILABLE_MEMORY_NVX_);
}

int64_t TOpenGLMemoryManagerClass::GetPlatformCurrentMemory() const
{
    return MemoryValue(GL_GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX_);
}

TClass TOpenGLMemoryManager::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TOpenGLMemoryManager, TOpenGLMemoryManagerClass>("Korvane.Context.Memory.OpenGL");
    return &info;
}

namespace units {
void MemoryOpenGLInitialize()
{
    MemoryManagerClass = &TOpenGLMemoryManager::ClassInfo();
}
void MemoryOpenGLFinalize()
{
    MemoryManagerClass = &TKorvaneMemoryManager::ClassInfo();
}
} // namespace units

} // namespace korvane
