#pragma once
// The material factory: turns material definitions into material sources of
// the class their kind asks for, filled from the definition's values and its
// texture assets. A source it makes carries its definition in TagObject, so a
// second mesh referring to the same material below the same owner gets the
// same source.

#include <vector>

#include "Korvane.DefTypes.Material.h"
#include "Platform.Materials3D.h"

namespace korvane {

class TKorvaneMaterial {
public:
    // The source for a material reference, or nullptr: first a source already
    // made for the referenced definition among AOwner's components (depth
    // first, AOwner itself not tested), else a new one. An unresolved
    // reference is looked up in AModel by its Id; not found gives nullptr.
    static TMaterialSource* CreateMaterial(TComponent* AOwner, TModelDef* AModel, const TMaterialRefDef* ADef);
    // A new source owned by AOwner for ADef, or nullptr without ADef.
    static TMaterialSource* CreateMaterial(TComponent* AOwner, TMaterialDef* ADef);
    // Shininess from a definition's specular power: below 1 a fraction of
    // 100, otherwise the power itself, rounded up.
    static float ShininessOf(float ASpecPow);

private:
    // ALayers: the layered definitions being made, outermost first.
    static TMaterialSource* Make(TComponent* AOwner, TMaterialDef* ADef, std::vector<const TMaterialDef*>& ALayers);
};

} // namespace korvane
