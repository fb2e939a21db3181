#pragma once
// The rule by which a camera or light node makes a definition of its own.

#include <string>

#include "Korvane.DefTypes.Light.h"
#include "Platform.Math3D.h"
#include "Platform.Types3D.h"

namespace korvane {

// The definition a camera or light makes for itself when it is created by
// AOwner: its definition owner is AOwner's mesh definition when AOwner is a
// mesh node, else nothing. The node frees the definition itself unless a
// model took it into its lists (AStandalone).
template <class TDef>
TDef* CreateOwnDefinition(TComponent* AOwner, bool& AStandalone);

// The mesh definition of AOwner when it is a mesh node that has one, else nil.
TTransformDef* OwnerMeshDefinition(TComponent* AOwner);

template <class TDef>
TDef* CreateOwnDefinition(TComponent* AOwner, bool& AStandalone)
{
    auto* def = new TDef(OwnerMeshDefinition(AOwner));
    AStandalone = def->GetModel() == nullptr;
    return def;
}

} // namespace korvane
