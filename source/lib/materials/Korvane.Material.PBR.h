#pragma once
// The physically based material: metallic-roughness shading over the
// parallax-occlusion surface, each PBR parameter optionally read from a map.

#include "Korvane.Material.POM.h"

namespace korvane {

class TKorvanePBRMaterial : public TKorvanePOMMaterial {
    KORVANE_CLASS(TKorvanePBRMaterial, TKorvanePOMMaterial)
    using TKorvanePOMMaterial::TKorvanePOMMaterial;

protected:
    void AfterConstruction() override;
    void DoCreateVertexShaderBuilder() override;
    void DoCreateFragmentShaderBuilder() override;
};

class TKorvanePBRMaterialSource : public TKorvanePOMMaterialSource {
    KORVANE_CLASS(TKorvanePBRMaterialSource, TKorvanePOMMaterialSource)
    using TKorvanePOMMaterialSource::TKorvanePOMMaterialSource;

    // The images of the PBR maps; missing: nullptr while designing, raises otherwise.
    virtual TKorvaneTextureBitmap* MetalnessTexture() const;
    virtual void SetMetalnessTexture(const TBitmap* AValue);
    virtual TKorvaneTextureBitmap* RoughnessTexture() const;
    virtual void SetRoughnessTexture(const TBitmap* AValue);
    virtual TKorvaneTextureBitmap* AmbientOcclusionTexture() const;
    virtual void SetAmbientOcclusionTexture(const TBitmap* AValue);
    virtual TKorvaneTextureBitmap* SpecularMap() const;
    virtual void SetSpecularMap(const TBitmap* AValue);
    TKorvaneTextureBitmap* EmissiveTexture() const;
    void SetEmissiveTexture(const TBitmap* AValue);


    // Also the extension "PBR".
    void LoadFromDefinition(TCustomDef* ADef) override;
    void StoreToDefinition(TCustomDef* ADef) override;

protected:
    TMaterial* CreateMaterial() override;
    // The POM entries, then the five PBR maps.
    void DoCreateDefaultBitmaps() override;
};

} // namespace korvane
