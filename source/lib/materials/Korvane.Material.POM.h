#pragma once
// The parallax-occlusion material: the normal-mapped surface whose texture
// coordinates are shifted by ray marching through a height map, optionally
// discarding fragments that march off the surface's edges.

#include "Korvane.Material.Default.h"

namespace korvane {

class TKorvanePOMMaterial : public TKorvaneDefaultMaterial {
    KORVANE_CLASS(TKorvanePOMMaterial, TKorvaneDefaultMaterial)
    using TKorvaneDefaultMaterial::TKorvaneDefaultMaterial;

    // "POM_DISCARD" on the fragment builder; the setter switches it on both.
    virtual bool ParallaxDiscardEdges() const;
    virtual void SetParallaxDiscardEdges(bool AValue);

protected:
    void AfterConstruction() override;
    void DoCreateVertexShaderBuilder() override;
    void DoCreateFragmentShaderBuilder() override;
};

class TKorvanePOMMaterialSource : public TKorvaneDefaultMaterialSource {
    KORVANE_CLASS(TKorvanePOMMaterialSource, TKorvaneDefaultMaterialSource)
    using TKorvaneDefaultMaterialSource::TKorvaneDefaultMaterialSource;

    TKorvanePOMMaterial* POMMaterial() const { return static_cast<TKorvanePOMMaterial*>(DefaultMaterial()); }

    // One component of Displacement: 0 X, 1 Y, 2 Z, any other W (no rebuild).
    virtual float GetDisplacementComponent(int AIndex) const;
    virtual void SetDisplacementComponent(int AIndex, float AValue);
    // The image of "POMTexture"; missing: nullptr while designing, raises otherwise.
    virtual TKorvaneTextureBitmap* ParallaxOcclusionMap() const;
    virtual void SetParallaxOcclusionMap(const TBitmap* AValue);
    virtual bool ParallaxDiscardEdges() const { return POMMaterial()->ParallaxDiscardEdges(); }
    virtual void SetParallaxDiscardEdges(bool AValue) { POMMaterial()->SetParallaxDiscardEdges(AValue); }


    // Also the extension "ParallaxOcclusionMapping".
    void LoadFromDefinition(TCustomDef* ADef) override;
    void StoreToDefinition(TCustomDef* ADef) override;

protected:
    TMaterial* CreateMaterial() override;
    // The default walk, then "POMTexture".
    void DoCreateDefaultBitmaps() override;
};

} // namespace korvane
