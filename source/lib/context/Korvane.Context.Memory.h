#pragma once
// The GPU memory query: class functions only, answered by the class that the
// OpenGL unit installs in MemoryManagerClass at start-up.

#include <cstdint>
#include <string>

namespace korvane {

// The class reference of TKorvaneMemoryManager and its descendants (never instantiated).
class TKorvaneMemoryManagerClass {
public:
    TKorvaneMemoryManagerClass() = default;
    TKorvaneMemoryManagerClass(const TKorvaneMemoryManagerClass&) = delete;
    TKorvaneMemoryManagerClass& operator=(const TKorvaneMemoryManagerClass&) = delete;
    virtual ~TKorvaneMemoryManagerClass() = default;
    virtual std::string ClassName() const { return "TKorvaneMemoryManager"; }
    // Total and free video memory in kilobytes (abstract here).
    virtual int64_t GetPlatformTotalMemory() const;
    virtual int64_t GetPlatformCurrentMemory() const;
};

class TKorvaneMemoryManager {
public:
    static const TKorvaneMemoryManagerClass& ClassInfo();
    // MemoryManagerClass's answers.
    static int64_t GetTotalMemory();
    static int64_t GetCurrentMemory();
};

// Null at load; TOpenGLMemoryManager while the OpenGL unit is loaded.
extern const TKorvaneMemoryManagerClass* MemoryManagerClass;

} // namespace korvane
