#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Korvane.Material.Blinn.h"
#include "Korvane.Material.BumpMap.h"
#include "Korvane.Material.Lambert.h"
#include "Korvane.Material.NormalMap.h"
#include "Korvane.Material.PBR.h"
#include "Korvane.Material.Phong.h"
#include "Korvane.Material.VertexColor.h"
#include "MaterialTestSupport.h"

using namespace korvane;
using namespace korvane::test;

namespace {

template <class T>
Owned<TKorvaneDefaultMaterialSource> Make()
{
    return Owned<TKorvaneDefaultMaterialSource>(TKorvaneDefaultMaterialSource::Create<T>(nullptr));
}

struct TVariant {
    const char* Name;
    std::function<Owned<TKorvaneDefaultMaterialSource>()> New;
};

const std::vector<TVariant>& Variants()
{
    static const std::vector<TVariant> variants = {
        {"VertexColor", Make<TKorvaneVertexColorMaterialSource>},
        {"Lambert", Make<TKorvaneLambertMaterialSource>},
        {"Phong", Make<TKorvanePhongMaterialSource>},
        {"Blinn", Make<TKorvaneBlinnMaterialSource>},
        {"NormalMap", Make<TKorvaneNormalMapMaterialSource>},
        {"BumpMap", Make<TKorvaneBumpMapMaterialSource>},
        {"POM", Make<TKorvanePOMMaterialSource>},
        {"PBR", Make<TKorvanePBRMaterialSource>},
    };
    return variants;
}

std::vector<std::string> PoolNames(const TKorvaneDefaultMaterialSource& ASource)
{
    std::vector<std::string> names;
    for (int i = 0; i < ASource.Bitmaps()->Count(); ++i) names.push_back(ASource.Bitmaps()->Items(i)->DisplayName());
    return names;
}

bool DefinedOn(const TKorvaneNodeBuilder* ABuilder, const char* ADefine) { return ABuilder->Defined(ADefine); }

class Variant : public TMaterialDrawFixture {};

} // namespace

TEST_F(Variant, EachCompilesLinksAndDrawsALitQuad)
{
    TKorvaneShaderLight light{};
    light.LightType = 1; // point, over the quad's centre
    light.Position = TVector3D(0, 0, 1, 1);
    light.Direction = TVector3D(0, 0, -1, 1);
    light.Ambient = TAlphaColorF(0, 0, 0, 1);
    light.Diffuse = TAlphaColorF(1, 1, 1, 1);
    light.Specular = TAlphaColorF(1, 1, 1, 1);
    light.ConstantAttenuation = 1;
    light.Intensity = 1;
    light.Enabled = 1;
    FContext->AddLight(light);

    for (const TVariant& v : Variants()) {
        SCOPED_TRACE(v.Name);
        auto source = v.New();
        source->SetDiffuseF(TAlphaColorF(1, 1, 1, 1));
        // White images everywhere (a flat normal for the normal map), so that
        // what the quad shows is the lighting of a white surface.
        for (int i = 0; i < source->Bitmaps()->Count(); ++i) {
            TKorvaneBitmapPoolEntry* entry = source->Bitmaps()->Items(i);
            TBitmap image(1, 1);
            // (Red equal to blue: the normal tilts 45 degrees whichever
            // channel order the upload takes.)
            image.Clear(entry->DisplayName() == "NormalMapTexture" ? 0xFFC080C0 : 0xFFFFFFFF);
            entry->Bitmap()->Assign(&image);
        }

        TKorvaneDefaultMaterial* material = source->DefaultMaterial();
        const auto& vs = material->VertexShaderSource().Code;
        const auto& fs = material->FragmentShaderSource().Code;
        std::string error;
        const GLuint program = BuildProgram(std::string(vs.begin(), vs.end()), std::string(fs.begin(), fs.end()),
                                            v.Name, error);
        EXPECT_NE(program, 0u) << error;
        if (program) glDeleteProgram(program);

        FContext->Clear({TClearTarget::Color, TClearTarget::Depth}, 0xFF0000FF, 1.0f, 0);
        DrawQuad(source->Material(), TAlphaColor(0xFFFFFFFF)); // white vertices for the vertex-colour material
        const auto centre = Pixel(16, 16);
        // The background is pure blue: a lit white surface brings red and green.
        EXPECT_GT(centre[0], 40) << int(centre[0]) << " " << int(centre[1]) << " " << int(centre[2]);
        EXPECT_GT(centre[1], 40) << int(centre[0]) << " " << int(centre[1]) << " " << int(centre[2]);
        EXPECT_EQ(Pixel(2, 2), (std::array<uint8_t, 4>{0, 0, 255, 255})) << "outside the quad";
    }
}

TEST(VertexColorMaterial, TexturingSwitchedOnShowsInOneBuildOnly)
{
    auto source = Make<TKorvaneVertexColorMaterialSource>();
    TKorvaneDefaultMaterial* m = source->DefaultMaterial();
    for (const TKorvaneNodeBuilder* b : {static_cast<const TKorvaneNodeBuilder*>(m->VertexShaderNode()),
                                         static_cast<const TKorvaneNodeBuilder*>(m->FragmentShaderNode())}) {
        EXPECT_TRUE(DefinedOn(b, "USE_VERTEXCOLOR"));
        EXPECT_TRUE(DefinedOn(b, "LIGHTING"));
        EXPECT_FALSE(DefinedOn(b, "USE_TEXTURE"));
        EXPECT_FALSE(DefinedOn(b, "USE_TEXTURE0"));
    }
    source->SetUseTexturing(true);
    // The texture-coordinate line appears only while "USE_TEXTURE" is defined.
    const auto text = [m] {
        const auto& fs = m->FragmentShaderSource().Code;
        return std::string(fs.begin(), fs.end());
    };
    EXPECT_NE(text().find("vec2 l_Tiling0"), std::string::npos) << "the build right after the switch textures";
    EXPECT_FALSE(source->UseTexturing()) << "the define is gone again after that build";
    m->UpdateShaderProgram();
    EXPECT_EQ(text().find("vec2 l_Tiling0"), std::string::npos) << "the next build has no texturing";
}

TEST(PBRMaterial, PoolOrderAndTheSixteenEntryLimitWithShadows)
{
    auto source = Make<TKorvanePBRMaterialSource>();
    const std::vector<std::string> expected = {"Texture0",         "NormalMapTexture", "DisplacementMapTexture",
                                               "POMTexture",       "MetalnessTexture", "RoughnessTexture",
                                               "AmbientOcclusionTexture", "EmissiveTexture", "SpecularMapTexture"};
    EXPECT_EQ(PoolNames(*source), expected);

    // Eight shadow maps over nine entries exceed the pool.
    EXPECT_EQ(MessageOf([&] { source->SetShadows(true); }),
              "failed to add bitmap to pool - maximum number of textures in pool reached = 16");
    EXPECT_EQ(source->Bitmaps()->Count(), 16);
}

TEST(BumpMapMaterial, TheSpecularMapComesBeforeTheDefaultBitmaps)
{
    auto source = Make<TKorvaneBumpMapMaterialSource>();
    const auto names = PoolNames(*source);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), "SpecularMapTexture");
    EXPECT_TRUE(source->DefaultMaterial()->FragmentShaderNode()->Defined("SPECULARMAP"));
    EXPECT_NE(static_cast<TKorvaneBumpMapMaterialSource&>(*source).SpecularMap(), nullptr);
}

TEST(POMMaterial, DiscardEdgesSwitchesTheDefineOnBothBuilders)
{
    auto pom = Make<TKorvanePOMMaterialSource>();
    auto& source = static_cast<TKorvanePOMMaterialSource&>(*pom);
    TKorvaneDefaultMaterial* m = source.DefaultMaterial();
    EXPECT_TRUE(source.ParallaxDiscardEdges());
    source.SetParallaxDiscardEdges(false);
    EXPECT_FALSE(m->VertexShaderNode()->Defined("POM_DISCARD"));
    EXPECT_FALSE(m->FragmentShaderNode()->Defined("POM_DISCARD"));
    EXPECT_FALSE(source.ParallaxDiscardEdges());
    EXPECT_FLOAT_EQ(source.NormalIntensity(), 0.1f);

    auto pbr = Make<TKorvanePBRMaterialSource>();
    EXPECT_TRUE(static_cast<TKorvanePBRMaterialSource&>(*pbr).ParallaxDiscardEdges());
    EXPECT_EQ(pbr->ShadingModel(), TKorvaneShadingModel::smPBR);
    // Half the default displacement, all four components.
    const TVector3D d = pbr->Displacement();
    EXPECT_FLOAT_EQ(d.X, 0.05f);
    EXPECT_FLOAT_EQ(d.W, 0.5f);
    EXPECT_TRUE(pbr->DefaultMaterial()->FragmentShaderNode()->Defined("PBR_TEX_ALBEDO"));
    EXPECT_FALSE(pbr->DefaultMaterial()->VertexShaderNode()->Defined("PBR_TEX"));
}

TEST(LightingVariants, LambertHasNoSpecularPhongAndBlinnStartAtShininessFifty)
{
    struct TCase {
        const char* Name;
        Owned<TKorvaneDefaultMaterialSource> Source;
        bool Specular;
        float Shininess;
        TKorvaneShadingModel Model;
    };
    TCase cases[] = {
        {"Lambert", Make<TKorvaneLambertMaterialSource>(), false, 32, TKorvaneShadingModel::smLambert},
        {"Phong", Make<TKorvanePhongMaterialSource>(), true, 50, TKorvaneShadingModel::smPhong},
        {"Blinn", Make<TKorvaneBlinnMaterialSource>(), true, 50, TKorvaneShadingModel::smBlinnPhong},
        {"NormalMap", Make<TKorvaneNormalMapMaterialSource>(), true, 32, TKorvaneShadingModel::smBlinnPhong},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(c.Source->UseSpecular(), c.Specular);
        EXPECT_TRUE(c.Source->UseLighting());
        EXPECT_TRUE(c.Source->UseTexture0());
        EXPECT_FLOAT_EQ(c.Source->Shininess(), c.Shininess);
        EXPECT_EQ(c.Source->ShadingModel(), c.Model);
    }
}

TEST(NormalMapMaterial, DisplacementComponentsReadAndWriteOneComponent)
{
    auto owned = Make<TKorvaneNormalMapMaterialSource>();
    auto& source = static_cast<TKorvaneNormalMapMaterialSource&>(*owned);
    source.SetDisplacement(TVector3D(1, 2, 3, 4));
    source.SetDisplacementComponent(1, 9);
    source.SetDisplacementComponent(7, 5); // any other index is W
    EXPECT_FLOAT_EQ(source.DisplacementX(), 1);
    EXPECT_FLOAT_EQ(source.DisplacementY(), 9);
    EXPECT_FLOAT_EQ(source.DisplacementZ(), 3);
    EXPECT_FLOAT_EQ(source.DisplacementDir(), 5);
}
