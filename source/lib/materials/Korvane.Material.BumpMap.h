#pragma once
// The bump-map material: the normal-map material with a specular map.

#include "Korvane.Material.NormalMap.h"

namespace korvane {

class TKorvaneBumpMapMaterial : public TKorvaneNormalMapMaterial {
    KORVANE_CLASS(TKorvaneBumpMapMaterial, TKorvaneNormalMapMaterial)
    using TKorvaneNormalMapMaterial::TKorvaneNormalMapMaterial;

protected:
    void DoCreateVertexShaderBuilder() override;
    void DoCreateFragmentShaderBuilder() override;
};

class TKorvaneBumpMapMaterialSource : public TKorvaneNormalMapMaterialSource {
    KORVANE_CLASS(TKorvaneBumpMapMaterialSource, TKorvaneNormalMapMaterialSource)
    using TKorvaneNormalMapMaterialSource::TKorvaneNormalMapMaterialSource;

    // The image of "SpecularMapTexture"; missing: nullptr while designing, raises otherwise.
    virtual TKorvaneTextureBitmap* SpecularMap() const;
    virtual void SetSpecularMap(const TBitmap* AValue);

protected:
    TMaterial* CreateMaterial() override;
    // "SpecularMapTexture" first, then the default walk.
    void DoCreateDefaultBitmaps() override;
};

} // namespace korvane
