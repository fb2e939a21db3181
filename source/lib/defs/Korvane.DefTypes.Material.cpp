#include "Korvane.DefTypes.Material.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TMaterialDef, DefTypesUnitName)
KORVANE_IMPLEMENT_CLASS(TMaterialRefDef, DefTypesUnitName)

std::unique_ptr<TJSONObject> TMaterialRefDef::ToJSON() const
{
    auto obj = TCustomDef::ToJSON();
    if (Reference()) obj->AddPair("Reference", Reference()->Id());
    return obj;
}

bool TMaterialRefDef::LateResolveFromJSON(TModelDef* AModel, const TJSONObject&)
{
    const auto& services = ModelDefServices();
    if (!Reference() && AModel && services.FindMaterialById)
        SetReference(services.FindMaterialById(AModel, Id()));
    return true;
}

} // namespace korvane
