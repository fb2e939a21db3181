#include "Korvane.SceneDefs.h"

#include <cstdint>

#include "Korvane.Control.h"
#include "Korvane.DefTypes.Utils.h"
#include "Platform.SysUtils.h"

namespace korvane {

namespace {

std::string ComponentNameOf(const TTransformDef& ADef, const char* APrefix)
{
    std::string name = MakeIdentifierName(ADef.Id());
    if (name.empty()) name = APrefix + IntToStr(static_cast<int64_t>(reinterpret_cast<intptr_t>(&ADef)));
    return name;
}

} // namespace

TClass TCameraDef::StaticClass()
{
    static const TClassInfo<TCameraDef> info(DefTypesUnitName);
    return &info;
}

TCameraDef::TCameraDef(TTransformDef* AOwner) : TTransformDef(AOwner) {}

std::string TCameraDef::GetQualifiedComponentName() const { return ComponentNameOf(*this, "Camera_"); }

TClass TLightDef::StaticClass()
{
    static const TClassInfo<TLightDef> info(DefTypesUnitName);
    return &info;
}

TLightDef::TLightDef(TTransformDef* AOwner) : TTransformDef(AOwner) {}

std::string TLightDef::GetQualifiedComponentName() const { return ComponentNameOf(*this, "Light_"); }

TTransformDef* OwnerMeshDefinition(TComponent* AOwner)
{
    auto* node = dynamic_cast<TKorvaneControl*>(AOwner);
    const auto& services = MeshNodeServices();
    std::string referenced;
    if (!node || !services.GetReferencedName || !services.GetReferencedName(node, referenced)) return nullptr;
    return dynamic_cast<TTransformDef*>(node->Def());
}

} // namespace korvane
