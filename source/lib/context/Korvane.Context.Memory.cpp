#include "Korvane.Context.Memory.h"

#include "Platform.SysUtils.h"
#include "Platform.Types3D.h"

namespace korvane {

const TKorvaneMemoryManagerClass* MemoryManagerClass = nullptr;

int64_t TKorvaneMemoryManagerClass::GetPlatformTotalMemory() const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".GetPlatformTotalMemory");
}

int64_t TKorvaneMemoryManagerClass::GetPlatformCurrentMemory() const
{
    throw EAbstractError("Abstract Error: " + ClassName() + ".GetPlatformCurrentMemory");
}

TClass TKorvaneMemoryManager::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    static const auto& info =
        *new TClassInfo<TKorvaneMemoryManager, TKorvaneMemoryManagerClass>("Korvane.Context.Memory");
    return &info;
}

namespace {
const TKorvaneMemoryManagerClass& Installed()
{
    if (!MemoryManagerClass) throw EContext3DException("no GPU memory manager class is installed");
    return *MemoryManagerClass;
}
} // namespace

int64_t TKorvaneMemoryManager::GetTotalMemory() { return Installed().GetPlatformTotalMemory(); }
int64_t TKorvaneMemoryManager::GetCurrentMemory() { return Installed().GetPlatformCurrentMemory(); }

} // namespace korvane
