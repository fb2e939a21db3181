// A material definition read from arbitrary JSON, loaded into material sources
// of three kinds (the default, the PBR and the splat-map source), stored back
// and loaded once more. Loading raises framework exceptions only; a source that
// loaded a definition stores one that loads again without error.

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "Korvane.DefTypes.Material.h"
#include "Korvane.Material.PBR.h"
#include "Korvane.Material.SplatMap.h"
#include "Korvane.Units.h"

using korvane::fuzz::Fail;

using namespace korvane;

namespace {

template <class T>
void LoadStoreLoad(TMaterialDef& ADef)
{
    TOwned<T> source(TKorvaneDefaultMaterialSource::Create<T>(nullptr));
    try {
        source->LoadFromDefinition(&ADef);
    } catch (const Exception&) {
        return; // refused input: a clear exception is the expected outcome
    }
    TMaterialDef stored;
    try {
        source->StoreToDefinition(&stored);
    } catch (const Exception& e) {
        Fail("a loaded source cannot be stored", e.Message());
    }
    TOwned<T> again(TKorvaneDefaultMaterialSource::Create<T>(nullptr));
    try {
        again->LoadFromDefinition(&stored);
    } catch (const Exception& e) {
        Fail("a stored source does not load again", e.Message());
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
    TMaterialDef def;
    try {
        def.FromJSON(nullptr, *TJSONObject::ParseJSONObject(std::string_view(reinterpret_cast<const char*>(data), size)));
    } catch (const Exception&) {
        return 0;
    }
    LoadStoreLoad<TKorvaneDefaultMaterialSource>(def);
    LoadStoreLoad<TKorvanePBRMaterialSource>(def);
    LoadStoreLoad<TKorvaneSplatMapMaterialSource>(def);
    return 0;
}
