// Material, texture, behaviour, metadata, group, light and camera definitions
// read from arbitrary JSON laid out like a model: "Materials", "Behaviours",
// "Lights" and "Cameras" arrays, a "Children" tree, a "Group" and "MetaData"
// object. Reading raises framework exceptions only; what was read is written,
// and that text reads back to definitions that write the same text.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "Korvane.DefTypes.Light.h"
#include "Korvane.DefTypes.Material.h"
#include "Korvane.DefTypes.Meta.h"
#include "Korvane.Units.h"

using korvane::fuzz::Fail;

using namespace korvane;

namespace {

// Everything one document holds, read without a model.
struct TDefinitions {
    std::vector<TOwned<TMaterialDef>> Materials;
    std::vector<TOwned<TMaterialBehaviourDef>> Behaviours;
    std::vector<TOwned<TLightDef>> Lights;
    std::vector<TOwned<TCameraDef>> Cameras;
    TOwned<TTransformDef> Tree{new TTransformDef(nullptr)};
    TOwned<TGroupDef> Group;
    TOwned<TModelMetaDef> MetaData;

    template <typename T, typename Make>
    static void ReadArray(const TJSONObject& AValue, const char* AName, std::vector<TOwned<T>>& AList, Make&& AMake)
    {
        if (const TJSONArray* array = JSONGetArray(AValue, AName))
            for (const auto& element : *array) {
                TOwned<T> def = AMake();
                def->FromJSON(nullptr, element->As<TJSONObject>());
                AList.push_back(std::move(def));
            }
    }

    void Read(const TJSONObject& AValue)
    {
        ReadArray(AValue, "Materials", Materials, [] { return MakeOwned<TMaterialDef>(); });
        ReadArray(AValue, "Behaviours", Behaviours, [] { return MakeOwned<TMaterialBehaviourDef>(); });
        ReadArray(AValue, "Lights", Lights, [] { return MakeOwned<TLightDef>(nullptr); });
        ReadArray(AValue, "Cameras", Cameras, [] { return MakeOwned<TCameraDef>(nullptr); });
        Tree->FromJSON(nullptr, AValue);
        if (const TJSONValue* group = AValue.GetValue("Group")) {
            Group.reset(new TGroupDef(nullptr));
            Group->FromJSON(nullptr, group->As<TJSONObject>());
        }
        if (const TJSONValue* meta = AValue.GetValue("MetaData")) {
            MetaData = MakeOwned<TModelMetaDef>();
            MetaData->FromJSON(nullptr, meta->As<TJSONObject>());
        }
    }

    std::string Write() const
    {
        auto obj = Tree->ToJSON();
        const auto writeArray = [&](const char* AName, const auto& AList) {
            auto array = std::make_unique<TJSONArray>();
            for (const auto& def : AList) array->Add(def->ToJSON());
            obj->AddPair(AName, std::move(array));
        };
        writeArray("Materials", Materials);
        writeArray("Behaviours", Behaviours);
        writeArray("Lights", Lights);
        writeArray("Cameras", Cameras);
        if (Group) obj->AddPair("Group", Group->ToJSON());
        if (MetaData) obj->AddPair("MetaData", MetaData->ToJSON());
        return obj->ToJSON();
    }
};

// Writing and reading back once more must reproduce the text. Metadata reads
// its own "Type" and "Id" pairs as tags, so a document settles after its first
// write; the check compares the second and the third writes.
std::string ReadWrite(std::string_view AText, bool AMayFail, bool& AFailed)
{
    TDefinitions defs;
    try {
        defs.Read(*TJSONObject::ParseJSONObject(AText));
    } catch (const Exception& e) {
        if (!AMayFail) Fail("written definitions do not read back", e.Message() + "\n" + std::string(AText));
        AFailed = true;
        return {};
    }
    try {
        return defs.Write();
    } catch (const Exception& e) {
        Fail("definitions that were read cannot be written", e.Message());
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
    bool failed = false;
    const std::string first = ReadWrite(std::string_view(reinterpret_cast<const char*>(data), size), true, failed);
    if (failed) return 0;
    const std::string second = ReadWrite(first, false, failed);
    const std::string third = ReadWrite(second, false, failed);
    if (third != second) Fail("definitions read back write different text", second + "\n" + third);
    return 0;
}
