// A whole model definition read from arbitrary JSON. Reading raises framework
// exceptions only; a model that was read is written, and its text reads back
// to a model that writes the same text. The metadata is the one exception on
// the first cycle: it keeps every pair of its object as a tag, "Type" and "Id"
// included, so a model's first written metadata may gain those two tags when
// read back; from the second cycle on the whole text must stay the same.
// A texture asset's original file name is not compared: reading places the
// asset beside the model, so a name from another folder (or one whose written
// file-name part disagrees with it) comes back under the model's folder.

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "Korvane.DefTypes.Model.h"
#include "Korvane.Units.h"

using namespace korvane;
using korvane::fuzz::Fail;

namespace {

std::string WriteModel(const TModelDef& AModel) { return AModel.ToJSON()->ToJSON(); }

// AValue as text, without the pairs named ASkip at the top and without the
// "OriginalFilename" of any "Asset" object.
std::string Comparable(const TJSONValue& AValue, const char* ASkip, bool AInAsset = false)
{
    if (const auto* array = AValue.TryAs<TJSONArray>()) {
        std::string result = "[";
        for (const auto& element : *array) result += Comparable(*element, "", false) + ",";
        return result + "]";
    }
    const auto* object = AValue.TryAs<TJSONObject>();
    if (!object) return AValue.ToJSON();
    std::string result = "{";
    for (const TJSONPair& pair : *object) {
        if (pair.Name() == ASkip || (AInAsset && pair.Name() == "OriginalFilename")) continue;
        result += std::string(pair.Name()) + ":" + Comparable(*pair.JsonValue(), "", pair.Name() == "Asset") + ",";
    }
    return result + "}";
}

std::string Comparable(const std::string& AText, const char* ASkip)
{
    return Comparable(*TJSONObject::ParseJSONObject(AText), ASkip);
}

std::string ReadAndWrite(const std::string& AText, const char* AWhat)
{
    TOwned<TModelDef> model = MakeOwned<TModelDef>();
    try {
        model->FromJSON(*TJSONObject::ParseJSONObject(AText));
        return WriteModel(*model);
    } catch (const Exception& e) {
        Fail(AWhat, e.Message() + "\n" + AText);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitializeUnits();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TOwned<TModelDef> model = MakeOwned<TModelDef>();
    try {
        model->FromJSON(*TJSONObject::ParseJSONObject(text));
    } catch (const Exception&) {
        return 0;
    }
    std::string written;
    try {
        written = WriteModel(*model);
    } catch (const Exception& e) {
        Fail("a model that was read cannot be written", e.Message());
    }
    const std::string rewritten = ReadAndWrite(written, "a written model does not read back");
    if (Comparable(rewritten, "MetaData") != Comparable(written, "MetaData"))
        Fail("a model read back writes different text", written + "\n" + rewritten);
    const std::string third = ReadAndWrite(rewritten, "a model written twice does not read back");
    if (Comparable(third, "") != Comparable(rewritten, "")) Fail("a model read back twice writes different text", rewritten + "\n" + third);
    return 0;
}
