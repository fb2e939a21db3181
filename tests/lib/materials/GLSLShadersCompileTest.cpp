#include <gtest/gtest.h>

#include "ShaderTestSupport.h"

using namespace korvane;
using namespace korvane::test;

namespace {

using K = TKorvaneTextureKind;

struct TSampler {
    const char* Name;
    K Kind = K::Texture2D;
};

// One material configuration: the defines it puts on both builders, those on
// the fragment builder alone, and the samplers its pool declares.
struct TFeatureSet {
    const char* Name;
    std::vector<const char*> Both;
    std::vector<const char*> Fragment;
    std::vector<TSampler> Samplers;
};

std::string Describe(const TFeatureSet& ASet)
{
    std::string text = std::string(ASet.Name) + " [both:";
    for (const char* d : ASet.Both) text += std::string(" ") + d;
    text += "; fragment:";
    for (const char* d : ASet.Fragment) text += std::string(" ") + d;
    text += "; samplers:";
    for (const auto& s : ASet.Samplers) text += std::string(" _") + s.Name;
    return text + "]";
}

const std::vector<TFeatureSet>& FeatureSets()
{
    static const std::vector<TFeatureSet> sets = {
        {"no features", {}, {}, {}},
        {"texturing", {"USE_TEXTURE"}, {"USE_TEXTURE0"}, {{"Texture0"}}},
        {"texturing without texture 0", {"USE_TEXTURE"}, {}, {}},
        {"extra texture coordinates", {"USE_TEXTURE", "USE_TEXCOORD1", "USE_TEXCOORD2", "USE_TEXCOORD3"},
         {"USE_TEXTURE0"}, {{"Texture0"}}},
        {"vertex colour", {"USE_VERTEXCOLOR"}, {}, {}},
        {"vertex colour with texture", {"USE_VERTEXCOLOR", "USE_TEXTURE"}, {"USE_TEXTURE0"}, {{"Texture0"}}},
        {"Lambert", {"LIGHTING"}, {}, {}},
        {"Lambert with specular", {"LIGHTING", "USE_SPECULAR"}, {}, {}},
        {"Phong", {"LIGHTING", "PHONG"}, {}, {}},
        {"Phong with specular", {"LIGHTING", "PHONG", "USE_SPECULAR"}, {}, {}},
        {"Blinn-Phong", {"LIGHTING", "BLINNPHONG"}, {}, {}},
        {"Blinn-Phong with specular", {"LIGHTING", "BLINNPHONG", "USE_SPECULAR"}, {}, {}},
        {"lit vertex colour and texture", {"LIGHTING", "BLINNPHONG", "USE_VERTEXCOLOR", "USE_TEXTURE"},
         {"USE_TEXTURE0"}, {{"Texture0"}}},
        {"PBR", {"LIGHTING", "PBR"}, {}, {}},
        {"PBR unlit", {"PBR"}, {}, {}},
        {"PBR with textures", {"LIGHTING", "PBR", "USE_TEXTURE"},
         {"USE_TEXTURE0", "PBR_TEX", "PBR_TEX_ALBEDO", "PBR_TEX_METALLIC", "PBR_TEX_ROUGHNESS", "PBR_TEX_AO",
          "PBR_TEX_EMISSIVE"},
         {{"Texture0"}, {"MetalnessTexture"}, {"RoughnessTexture"}, {"AmbientOcclusionTexture"}, {"EmissiveTexture"}}},
        {"PBR with albedo texture only", {"LIGHTING", "PBR", "USE_TEXTURE"}, {"USE_TEXTURE0", "PBR_TEX", "PBR_TEX_ALBEDO"},
         {{"Texture0"}}},
        {"PBR specular-glossiness", {"LIGHTING", "PBR", "USE_TEXTURE"}, {"PBR_TEX", "SpecularMapTexture"},
         {{"SpecularMapTexture"}}},
        {"specular map", {"LIGHTING", "BLINNPHONG", "USE_SPECULAR", "USE_TEXTURE", "SPECULARMAP"}, {"USE_TEXTURE0"},
         {{"Texture0"}, {"SpecularMapTexture"}}},
        {"normal map with bump", {"LIGHTING", "BLINNPHONG", "USE_TEXTURE", "NORMALMAP", "BUMP"}, {"USE_TEXTURE0"},
         {{"Texture0"}, {"NormalMapTexture"}}},
        {"normal map with bump, no texture 0", {"LIGHTING", "USE_TEXTURE", "NORMALMAP", "BUMP"}, {},
         {{"NormalMapTexture"}}},
        {"normal map with bump, unlit", {"USE_TEXTURE", "NORMALMAP", "BUMP"}, {"USE_TEXTURE0"}, {{"Texture0"}}},
        {"normal map with bump and PBR", {"LIGHTING", "PBR", "USE_TEXTURE", "NORMALMAP", "BUMP"}, {"USE_TEXTURE0"},
         {{"Texture0"}, {"NormalMapTexture"}}},
        {"parallax occlusion", {"LIGHTING", "BLINNPHONG", "USE_TEXTURE", "POM"}, {"USE_TEXTURE0"},
         {{"Texture0"}, {"POMTexture"}}},
        {"parallax occlusion with discard", {"LIGHTING", "USE_TEXTURE", "POM", "POM_DISCARD"}, {"USE_TEXTURE0"},
         {{"Texture0"}, {"POMTexture"}}},
        {"parallax occlusion with normal map", {"LIGHTING", "USE_TEXTURE", "POM", "NORMALMAP", "BUMP"},
         {"USE_TEXTURE0"}, {{"Texture0"}, {"POMTexture"}, {"NormalMapTexture"}}},
        {"parallax occlusion without texturing", {"LIGHTING", "POM"}, {}, {}},
        {"shadow mapping", {"LIGHTING", "USE_TEXTURE", "SHADOW", "SHADOWMAPPING"}, {}, {{"ShadowMapTexture0"}}},
        {"variance shadow mapping", {"LIGHTING", "USE_TEXTURE", "SHADOW", "VARIANCESHADOWMAPPING"}, {},
         {{"ShadowMapTexture0"}}},
        {"shadow without a method", {"LIGHTING", "USE_TEXTURE", "SHADOW"}, {}, {}},
        {"reflection", {"USE_TEXTURE", "REFLECTION"}, {}, {{"ReflectionTexture"}}},
        {"refraction", {"USE_TEXTURE", "REFRACTION"}, {}, {{"RefractionTexture"}}},
        {"environment", {"USE_TEXTURE", "ENVIRONMENT"}, {}, {{"EnvironmentTexture", K::CubeMap}}},
        {"environment with PBR", {"LIGHTING", "PBR", "USE_TEXTURE", "ENVIRONMENT"}, {},
         {{"EnvironmentTexture", K::CubeMap}}},
        {"environment with PBR, unlit", {"PBR", "ENVIRONMENT"}, {}, {{"EnvironmentTexture", K::CubeMap}}},
        {"displacement", {"USE_TEXTURE", "DISPLACEMENT"}, {}, {{"DisplacementMapTexture"}}},
        {"displacement into a varying", {"USE_TEXTURE", "DISPLACEMENT", "DISPLACE_VAR"}, {},
         {{"DisplacementMapTexture"}}},
        {"tone map exposure", {"LIGHTING"}, {"TONEMAP_EXPOSURE"}, {}},
        {"tone map ACES Narkowicz", {"LIGHTING"}, {"TONEMAP_ACES_NARKOWICZ"}, {}},
        {"tone map ACES Hill", {"LIGHTING"}, {"TONEMAP_ACES_HILL"}, {}},
        {"tone map ACES Hill boost", {"LIGHTING"}, {"TONEMAP_ACES_HILL_EXPOSURE_BOOST"}, {}},
        {"tone map Reinhard", {"LIGHTING"}, {"TONEMAP_REINHARD"}, {}},
        {"tone map luma Reinhard", {"LIGHTING"}, {"TONEMAP_LUMABASED_REINHARD"}, {}},
        {"tone map white-preserving Reinhard", {"LIGHTING"}, {"TONEMAP_WP_LUMABASED_REINHARD"}, {}},
        {"tone map RomBinDaHouse", {"LIGHTING"}, {"TONEMAP_ROMBINDAHOUSE"}, {}},
        {"tone map filmic", {"LIGHTING"}, {"TONEMAP_FILMIC"}, {}},
        {"tone map Uncharted 2", {"LIGHTING"}, {"TONEMAP_UNCHARTED2"}, {}},
        {"tone map unlit", {}, {"TONEMAP_REINHARD"}, {}},
        {"tone map with PBR", {"LIGHTING", "PBR"}, {"TONEMAP_ACES_HILL"}, {}},
        {"deferred", {"DEFERRED"}, {}, {}},
        {"deferred lit", {"LIGHTING", "BLINNPHONG", "USE_SPECULAR", "DEFERRED"}, {}, {}},
        {"deferred PBR", {"LIGHTING", "PBR", "DEFERRED"}, {}, {}},
        {"alpha cut-off", {}, {"USE_ALPHACUTOFF"}, {}},
        {"colour clipping", {}, {"USE_COLORCLIP"}, {}},
        {"point sprites", {"USE_POINTSPRITE"}, {}, {}},
        {"splat-map defines", {"LIGHTING", "BLINNPHONG", "USE_SPECULAR", "USE_TEXTURE", "SPLATMAP"}, {"USE_TEXTURE0"},
         {{"Texture0"}}},
        {"lit, textured, shadowed and reflecting",
         {"LIGHTING", "PHONG", "USE_SPECULAR", "USE_TEXTURE", "SHADOW", "SHADOWMAPPING", "REFLECTION"},
         {"USE_TEXTURE0", "USE_ALPHACUTOFF", "TONEMAP_FILMIC"},
         {{"Texture0"}, {"ShadowMapTexture0"}, {"ReflectionTexture"}}},
        {"everything PBR",
         {"LIGHTING", "PBR", "USE_TEXTURE", "NORMALMAP", "BUMP", "POM", "POM_DISCARD", "SHADOW",
          "VARIANCESHADOWMAPPING", "ENVIRONMENT", "DISPLACEMENT", "DISPLACE_VAR", "USE_VERTEXCOLOR", "USE_TEXCOORD1"},
         {"USE_TEXTURE0", "PBR_TEX", "PBR_TEX_ALBEDO", "PBR_TEX_METALLIC", "PBR_TEX_ROUGHNESS", "PBR_TEX_AO",
          "PBR_TEX_EMISSIVE", "TONEMAP_UNCHARTED2", "USE_ALPHACUTOFF", "USE_COLORCLIP"},
         {{"Texture0"},
          {"NormalMapTexture"},
          {"POMTexture"},
          {"ShadowMapTexture0"},
          {"EnvironmentTexture", K::CubeMap},
          {"DisplacementMapTexture"},
          {"MetalnessTexture"},
          {"RoughnessTexture"},
          {"AmbientOcclusionTexture"},
          {"EmissiveTexture"}}},
        {"deferred with refraction and clipping colour", {"LIGHTING", "USE_TEXTURE", "REFRACTION", "DEFERRED"},
         {"USE_TEXTURE0", "USE_COLORCLIP"}, {{"Texture0"}, {"RefractionTexture"}}},
    };
    return sets;
}

} // namespace

class GLSLShaderSets : public ::testing::TestWithParam<size_t> {};

// Every set compiles and links as the material would build it: with the clip
// plane define it always adds.
TEST_P(GLSLShaderSets, CompileAndLink)
{
    const TFeatureSet& set = FeatureSets()[GetParam()];
    TShaderPair pair;
    pair.Both({"CLIPPINGPLANE"});
    for (const char* d : set.Both) pair.Both({d});
    for (const char* d : set.Fragment) pair.Fragment({d});
    for (const auto& s : set.Samplers) pair.Sampler(s.Name, s.Kind);

    std::string error;
    GLuint program = BuildProgram(pair.VS->ToString(), pair.FS->ToString(), Describe(set), error);
    EXPECT_NE(program, 0u) << error;
    if (program) glDeleteProgram(program);
}

INSTANTIATE_TEST_SUITE_P(Table, GLSLShaderSets, ::testing::Range<size_t>(0, FeatureSets().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             std::string name;
                             for (char c : std::string(FeatureSets()[info.param].Name))
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// The texture-atlas lookup reads uniforms that no node declares; a material that
// uses it declares them as loose uniforms.
TEST(GLSLShaderSetsExtra, TextureAtlasWithItsOwnUniforms)
{
    for (bool sprites : {false, true}) {
        TShaderPair pair;
        pair.Both({"USE_TEXTURE", "USE_TEXTURE_ATLAS"});
        if (sprites) pair.Both({"USE_POINTSPRITE"});
        pair.Fragment({"USE_TEXTURE0"});
        pair.Sampler("Texture0");
        auto uniforms = std::make_unique<TKorvaneGLSLUniformsNode>(pair.FS.get());
        uniforms->AddDeclaration("_TextureSize", stVec2);
        uniforms->AddDeclaration("_TextureOfs", stVec2);
        pair.FS->Globals()->Uniforms()->Add(std::move(uniforms));
        std::string error;
        GLuint program = BuildProgram(pair.VS->ToString(), pair.FS->ToString(),
                                      sprites ? "texture atlas with point sprites" : "texture atlas", error);
        EXPECT_NE(program, 0u) << error;
        if (program) glDeleteProgram(program);
    }
}
