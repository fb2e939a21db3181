#include "Korvane.SceneDefs.h"

#include "Korvane.Control.h"

namespace korvane {

TTransformDef* OwnerMeshDefinition(TComponent* AOwner)
{
    auto* node = dynamic_cast<TKorvaneControl*>(AOwner);
    const auto& services = MeshNodeServices();
    std::string referenced;
    if (!node || !services.GetReferencedName || !services.GetReferencedName(node, referenced)) return nullptr;
    return dynamic_cast<TTransformDef*>(node->Def());
}

} // namespace korvane
