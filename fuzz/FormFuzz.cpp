// Form resources from anywhere: reading either succeeds or raises
// EFormReadError; what reads writes back to text that reads to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Korvane.Units.h"
#include "Platform.FormResources.h"
#include "Platform.Forms.h"

using namespace korvane;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitializeUnits();
    Application().SetHeadless(true);
    return 0;
}

namespace {
std::string ReadAndWrite(std::string_view AText, bool& AOk)
{
    TOwned<TForm> form(new TForm(nullptr));
    try {
        ReadComponentResource(form.get(), AText);
    } catch (const EFormReadError&) {
        AOk = false;
        return {};
    }
    AOk = true;
    return WriteComponentResource(form.get());
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    const std::string_view text(reinterpret_cast<const char*>(AData), ASize);
    bool ok = false;
    const std::string written = ReadAndWrite(text, ok);
    if (!ok) return 0;
    bool again = false;
    const std::string rewritten = ReadAndWrite(written, again);
    if (!again || rewritten != written) std::abort();
    return 0;
}
