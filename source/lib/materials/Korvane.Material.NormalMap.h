#pragma once
// The normal-map material: Blinn-Phong lighting whose normals come from a
// tangent-space normal map, with vertex displacement along the normal.

#include "Korvane.Material.Default.h"

namespace korvane {

class TKorvaneNormalMapMaterial : public TKorvaneDefaultMaterial {
    KORVANE_CLASS(TKorvaneNormalMapMaterial, TKorvaneDefaultMaterial)
    using TKorvaneDefaultMaterial::TKorvaneDefaultMaterial;

protected:
    void AfterConstruction() override;
    void DoCreateVertexShaderBuilder() override;
    void DoCreateFragmentShaderBuilder() override;
};

class TKorvaneNormalMapMaterialSource : public TKorvaneDefaultMaterialSource {
    KORVANE_CLASS(TKorvaneNormalMapMaterialSource, TKorvaneDefaultMaterialSource)
    using TKorvaneDefaultMaterialSource::TKorvaneDefaultMaterialSource;

    // One component of Displacement: 0 X, 1 Y, 2 Z, any other W (no rebuild).
    virtual float GetDisplacementComponent(int AIndex) const;
    virtual void SetDisplacementComponent(int AIndex, float AValue);
    float DisplacementX() const { return GetDisplacementComponent(0); }
    void SetDisplacementX(float AValue) { SetDisplacementComponent(0, AValue); }
    float DisplacementY() const { return GetDisplacementComponent(1); }
    void SetDisplacementY(float AValue) { SetDisplacementComponent(1, AValue); }
    float DisplacementZ() const { return GetDisplacementComponent(2); }
    void SetDisplacementZ(float AValue) { SetDisplacementComponent(2, AValue); }
    float DisplacementDir() const { return GetDisplacementComponent(3); }
    void SetDisplacementDir(float AValue) { SetDisplacementComponent(3, AValue); }

protected:
    TMaterial* CreateMaterial() override;
};

// The defines every builder of a normal-mapped variant starts with.
void AddNormalMapDefines(TKorvaneNodeBuilder* ABuilder);
// Component AIndex of AVector (0 X, 1 Y, 2 Z, any other W) read or replaced.
float DisplacementComponent(const TVector3D& AVector, int AIndex);
void SetDisplacementComponent(TVector3D& AVector, int AIndex, float AValue);

} // namespace korvane
