#pragma once
// The splat-map material: terrain texturing that blends four tiled terrain
// images under the control of a fifth image, the splat map ("Texture0"). The
// red, green and blue channels of the splat map weight the first three terrain
// images; what the three leave of the full weight goes to the fourth, unless
// black is taken as transparent. The shader reads the tilings by pool
// position: the terrain images at positions 0 to 3, the splat map at 4.

#include <cstdint>

#include "Korvane.Material.Default.GLSL.h"
#include "Korvane.Material.Default.h"

namespace korvane {

// The GLSL function SplatMapSurf (only while the builder defines "SPLATMAP").
class TKorvaneGLSLSplatMapFuncNode : public TKorvaneDeclarationNode {
public:
    using TKorvaneDeclarationNode::TKorvaneDeclarationNode;
    std::string ToString() override;
};

// Texture coordinate 0 unchanged: the blend function tiles each image itself.
class TKorvaneGLSLSplatMapTextureCoordsNode : public TKorvaneGLSLTextureCoordsNode {
public:
    using TKorvaneGLSLTextureCoordsNode::TKorvaneGLSLTextureCoordsNode;
    std::string ToString() override;
};

// The base colour from the blend while "SPLATMAP" is defined, the default one otherwise.
class TKorvaneGLSLSplatMapBaseColorNode : public TKorvaneGLSLGetBaseColorNode {
public:
    using TKorvaneGLSLGetBaseColorNode::TKorvaneGLSLGetBaseColorNode;
    std::string ToString() override;
};

class TKorvaneSplatMapMaterial : public TKorvaneDefaultMaterial {
    KORVANE_CLASS(TKorvaneSplatMapMaterial, TKorvaneDefaultMaterial)

    using TKorvaneDefaultMaterial::TKorvaneDefaultMaterial;

    // Read by the shader at every apply; switching it needs no new program.
    bool UseBlackAsTransparent() const { return FUseBlackAsTransparent; }
    void SetUseBlackAsTransparent(bool AValue) { FUseBlackAsTransparent = AValue; }

protected:
    // Lighting, specular, texture 0 and texturing on.
    void AfterConstruction() override;
    void DoApply(TContext3D* AContext) override;
    void DoCreateVertexShaderBuilder() override;
    void DoCreateFragmentShaderBuilder() override;
    void DoBuildFragmentShader() override;

    bool FUseBlackAsTransparent = false;
};

class TKorvaneSplatMapMaterialSource : public TKorvaneDefaultMaterialSource {
    KORVANE_CLASS(TKorvaneSplatMapMaterialSource, TKorvaneDefaultMaterialSource)

    using TKorvaneDefaultMaterialSource::TKorvaneDefaultMaterialSource;

    TKorvaneSplatMapMaterial* SplatMapMaterial() const
    {
        return static_cast<TKorvaneSplatMapMaterial*>(DefaultMaterial());
    }

    // The image of "SplatTexture<AIndex>"; a missing entry answers nullptr
    // while designing and raises otherwise.
    virtual TKorvaneTextureBitmap* GetSplatTexture(int AIndex) const;
    virtual void SetSplatTexture(int AIndex, const TBitmap* AValue);
    // The tiling of terrain image AIndex; a position outside the pool raises.
    virtual TPointF GetSplatTextureTiling(uint8_t AIndex) const;
    virtual void SetSplatTextureTiling(uint8_t AIndex, const TPointF& AValue);
    bool UseBlackAsTransparent() const { return SplatMapMaterial()->UseBlackAsTransparent(); }
    void SetUseBlackAsTransparent(bool AValue) { SplatMapMaterial()->SetUseBlackAsTransparent(AValue); }

    // Also the extension "SplatMap".
    void LoadFromDefinition(TCustomDef* ADef) override;
    void StoreToDefinition(TCustomDef* ADef) override;

protected:
    TMaterial* CreateMaterial() override;
    // The four terrain entries, then the default walk (which adds "Texture0" after them in a new pool).
    void DoCreateDefaultBitmaps() override;
};

} // namespace korvane
