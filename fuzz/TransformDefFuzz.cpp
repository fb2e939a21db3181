// A definition tree read from arbitrary JSON. Reading raises framework
// exceptions only (parse, conversion, cast, duplicate property and unknown
// class errors all derive from korvane::Exception); a tree that was read is
// written, and its text reads back to a tree that writes the same text.

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "Korvane.DefTypes.h"
#include "Korvane.Units.h"

using namespace korvane;
using korvane::fuzz::Check;

namespace {

std::string WriteTree(const TTransformDef& def) { return def.ToJSON()->ToJSON(); }

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitializeUnits();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TOwned<TTransformDef> def(new TTransformDef(nullptr));
    try {
        def->FromJSON(nullptr, *TJSONObject::ParseJSONObject(text));
    } catch (const Exception&) {
        return 0;
    }
    const std::string written = WriteTree(*def);

    TOwned<TTransformDef> back(new TTransformDef(nullptr));
    try {
        back->FromJSON(nullptr, *TJSONObject::ParseJSONObject(written));
    } catch (const Exception& e) {
        korvane::fuzz::Fail("a written tree does not read back", e.Message() + "\n" + written);
    }
    const std::string rewritten = WriteTree(*back);
    Check(rewritten == written, "a tree read back writes different text", written + "\n" + rewritten);
    return 0;
}
