// A mesh definition read from arbitrary JSON. Reading raises framework
// exceptions only; a mesh that was read is written, and its text reads back
// to a mesh that writes the same text.

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "Korvane.DefTypes.Mesh.h"
#include "Korvane.Units.h"

using namespace korvane;
using korvane::fuzz::Fail;

namespace {

std::string WriteMesh(const TMeshDef& AMesh) { return AMesh.ToJSON()->ToJSON(); }

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitializeUnits();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TOwned<TMeshDef> mesh(new TMeshDef(nullptr));
    try {
        mesh->FromJSON(nullptr, *TJSONObject::ParseJSONObject(text));
    } catch (const Exception&) {
        return 0;
    }
    std::string written;
    try {
        written = WriteMesh(*mesh);
    } catch (const Exception& e) {
        Fail("a mesh that was read cannot be written", e.Message());
    }
    TOwned<TMeshDef> back(new TMeshDef(nullptr));
    try {
        back->FromJSON(nullptr, *TJSONObject::ParseJSONObject(written));
    } catch (const Exception& e) {
        Fail("a written mesh does not read back", e.Message() + "\n" + written);
    }
    const std::string rewritten = WriteMesh(*back);
    if (rewritten != written) Fail("a mesh read back writes different text", written + "\n" + rewritten);
    return 0;
}
