#pragma once
// The Lambert material: diffuse lighting without specular highlights, textured.

#include "Korvane.Material.Default.h"

namespace korvane {

class TKorvaneLambertMaterial : public TKorvaneDefaultMaterial {
    KORVANE_CLASS(TKorvaneLambertMaterial, TKorvaneDefaultMaterial)
    using TKorvaneDefaultMaterial::TKorvaneDefaultMaterial;

protected:
    void AfterConstruction() override;
};

class TKorvaneLambertMaterialSource : public TKorvaneDefaultMaterialSource {
    KORVANE_CLASS(TKorvaneLambertMaterialSource, TKorvaneDefaultMaterialSource)
    using TKorvaneDefaultMaterialSource::TKorvaneDefaultMaterialSource;

protected:
    TMaterial* CreateMaterial() override;
};

} // namespace korvane
