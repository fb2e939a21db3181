#include <gtest/gtest.h>

#include <cstdio>

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

// The builders of a set as the material would configure them: with the clip
// plane define it always adds.
void Configure(TShaderPair& APair, const TFeatureSet& ASet)
{
    APair.Both({"CLIPPINGPLANE"});
    for (const char* d : ASet.Both) APair.Both({d});
    for (const char* d : ASet.Fragment) APair.Fragment({d});
    for (const auto& s : ASet.Samplers) APair.Sampler(s.Name, s.Kind);
}

} // namespace

class GLSLShaderSets : public ::testing::TestWithParam<size_t> {};

// Every set compiles and links as the material would build it.
TEST_P(GLSLShaderSets, CompileAndLink)
{
    const TFeatureSet& set = FeatureSets()[GetParam()];
    TShaderPair pair;
    Configure(pair, set);

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

// ---------------------------------------------------------------------------
// The generated texts of every set, pinned byte for byte.

namespace {

// 64-bit FNV-1a; with the length beside it, any change to a text shows.
uint64_t Fnv1a64(const std::string& AText)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : AText) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

struct TTextDigest {
    const char* Name;
    uint64_t VertexHash;
    size_t VertexLength;
    uint64_t FragmentHash;
    size_t FragmentLength;
};

// Recorded from the texts as generated with the fixed GL strings of the tests.
// A row that no longer matches means the GLSL output changed: if the change is
// intended, the failure message prints the new row.
const TTextDigest TextDigests[] = {
    {"no features", 0xbe93a49ef31873e3ull, 4598, 0x0fd86a4d1c55a7ffull, 5753},
    {"texturing", 0xb854f85cbdf85bcfull, 5056, 0xb650981b800cad35ull, 6453},
    {"texturing without texture 0", 0xabfeb8d3ec562c5full, 5026, 0x76e3fff921fe8dd0ull, 6410},
    {"extra texture coordinates", 0xe168e99495aba365ull, 5401, 0xe6de7383e212e7e5ull, 7203},
    {"vertex colour", 0xbe93a49ef31873e3ull, 4598, 0xafb4ce0d4a079e30ull, 5745},
    {"vertex colour with texture", 0xb854f85cbdf85bcfull, 5056, 0x3a9d7e028895672dull, 6469},
    {"Lambert", 0xbe93a49ef31873e3ull, 4598, 0xe3c4ba8738555f49ull, 9685},
    {"Lambert with specular", 0xbe93a49ef31873e3ull, 4598, 0xc84f0b94e755d68cull, 9771},
    {"Phong", 0xbe93a49ef31873e3ull, 4598, 0x3dff7c3d887bda95ull, 10129},
    {"Phong with specular", 0xbe93a49ef31873e3ull, 4598, 0xc9fe77f00eb979b6ull, 10215},
    {"Blinn-Phong", 0xbe93a49ef31873e3ull, 4598, 0x6e086341bdb1cb5bull, 10121},
    {"Blinn-Phong with specular", 0xbe93a49ef31873e3ull, 4598, 0x575cc58834fcd0deull, 10207},
    {"lit vertex colour and texture", 0xb854f85cbdf85bcfull, 5056, 0xd226adc2f7987c55ull, 10850},
    {"PBR", 0xbe93a49ef31873e3ull, 4598, 0x72a591bbd639a43dull, 16636},
    {"PBR unlit", 0xbe93a49ef31873e3ull, 4598, 0x3f86068991d998eaull, 10759},
    {"PBR with textures", 0x419482b1b920dda1ull, 5214, 0x8f0fe8c446d8fa5cull, 17905},
    {"PBR with albedo texture only", 0xb854f85cbdf85bcfull, 5056, 0xcd6d1104ba987d07ull, 17486},
    {"PBR specular-glossiness", 0x20ad63c6ff06517aull, 5066, 0xc5af99dffd23b2e5ull, 17569},
    {"specular map", 0xd78799dde10bf7aaull, 5096, 0x844e59372ac3b4e0ull, 11019},
    {"normal map with bump", 0x60aa76734095a9b9ull, 5027, 0x4684849062d97be9ull, 11680},
    {"normal map with bump, no texture 0", 0x564920c71a810169ull, 4997, 0x353490b45ee6dd49ull, 11184},
    {"normal map with bump, unlit", 0x95c4b8370d35ec20ull, 4989, 0x0086072ef58c8324ull, 7162},
    {"normal map with bump and PBR", 0x60aa76734095a9b9ull, 5027, 0xba139511ac0c13f7ull, 18082},
    {"parallax occlusion", 0x5afcb975b5283af2ull, 5021, 0x3cec16f9a293c072ull, 12328},
    {"parallax occlusion with discard", 0x5afcb975b5283af2ull, 5021, 0x7d88b66ab7cf5fd4ull, 12028},
    {"parallax occlusion with normal map", 0x128379e0441dfb23ull, 5059, 0x168a1559b81c5fedull, 12546},
    {"parallax occlusion without texturing", 0xb69d60d5c2975a14ull, 4531, 0x8f2b875fd473c87bull, 9914},
    {"shadow mapping", 0x1c8654a7a0b13d7cull, 5067, 0x5d868423f24dcb3full, 11283},
    {"variance shadow mapping", 0x1c8654a7a0b13d7cull, 5067, 0x3a2130c682452cd7ull, 11193},
    {"shadow without a method", 0x420430ac905dab2cull, 5028, 0xd0d9bd79bb25c395ull, 10486},
    {"reflection", 0x2ab7c898d6bf1a59ull, 5204, 0x60115ad27374e454ull, 6703},
    {"refraction", 0x652134b3d18415aeull, 5065, 0x09fa26354880c834ull, 6654},
    {"environment", 0x430867f6dcd70439ull, 5068, 0x49ba301dfd475d4full, 7201},
    {"environment with PBR", 0x430867f6dcd70439ull, 5068, 0x479220d6121f13f9ull, 18126},
    {"environment with PBR, unlit", 0x430867f6dcd70439ull, 5068, 0x6697e7b1f24f49fcull, 11229},
    {"displacement", 0xd04f0f78340808bdull, 5350, 0x7f555f5f4af76835ull, 6454},
    {"displacement into a varying", 0x7f3bef934bb21669ull, 5408, 0xb305e1d2a0395ad5ull, 6474},
    {"tone map exposure", 0xbe93a49ef31873e3ull, 4598, 0x4cf423e91c0d8720ull, 9848},
    {"tone map ACES Narkowicz", 0xbe93a49ef31873e3ull, 4598, 0xe867cdc1db3bbfe1ull, 10135},
    {"tone map ACES Hill", 0xbe93a49ef31873e3ull, 4598, 0x7e3e866ed3b3a741ull, 10456},
    {"tone map ACES Hill boost", 0xbe93a49ef31873e3ull, 4598, 0xb0c113cb7e5949dcull, 10462},
    {"tone map Reinhard", 0xbe93a49ef31873e3ull, 4598, 0xc72e59df25b01009ull, 9925},
    {"tone map luma Reinhard", 0xbe93a49ef31873e3ull, 4598, 0x1b749ee7567cf143ull, 10022},
    {"tone map white-preserving Reinhard", 0xbe93a49ef31873e3ull, 4598, 0xfd7e1864fb504c99ull, 10091},
    {"tone map RomBinDaHouse", 0xbe93a49ef31873e3ull, 4598, 0xc2e71146fe51695bull, 9916},
    {"tone map filmic", 0xbe93a49ef31873e3ull, 4598, 0xa2ede9d2aa11c94dull, 9966},
    {"tone map Uncharted 2", 0xbe93a49ef31873e3ull, 4598, 0xe07c4c9bd1e678d6ull, 10299},
    {"tone map unlit", 0xbe93a49ef31873e3ull, 4598, 0xde1413b46faba837ull, 5993},
    {"tone map with PBR", 0xbe93a49ef31873e3ull, 4598, 0x8e99bb00b6a65bd3ull, 17387},
    {"deferred", 0xbe93a49ef31873e3ull, 4598, 0x660b2acd2e0aadf1ull, 6022},
    {"deferred lit", 0xbe93a49ef31873e3ull, 4598, 0xe7d35700ec4e7a9bull, 9261},
    {"deferred PBR", 0xbe93a49ef31873e3ull, 4598, 0x795792573829457full, 15711},
    {"alpha cut-off", 0xbe93a49ef31873e3ull, 4598, 0x4b37b9ff59cf6e16ull, 5863},
    {"colour clipping", 0xbe93a49ef31873e3ull, 4598, 0x1155903e9c3476a4ull, 5994},
    {"point sprites", 0x8e57779649e0591dull, 5078, 0x692faa4ccb40fd5full, 5809},
    {"splat-map defines", 0xb854f85cbdf85bcfull, 5056, 0x70b5c96f28aa88bdull, 10902},
    {"lit, textured, shadowed and reflecting", 0x1c5480c246d4a31eull, 5275, 0x5654b6aa6e6d07a7ull, 12535},
    {"everything PBR", 0xfc05e3a17b54ca82ull, 5797, 0xcf5551c029ad41f9ull, 23005},
    {"deferred with refraction and clipping colour", 0x89ce09714a69efbeull, 5095, 0x1e92dacece4c8d7aull, 10212},
};

std::string DigestRow(const char* AName, const std::string& AVertex, const std::string& AFragment)
{
    char row[256];
    std::snprintf(row, sizeof(row), "{\"%s\", 0x%016llxull, %zu, 0x%016llxull, %zu},", AName,
                  static_cast<unsigned long long>(Fnv1a64(AVertex)), AVertex.size(),
                  static_cast<unsigned long long>(Fnv1a64(AFragment)), AFragment.size());
    return row;
}

} // namespace

TEST(GLSLShaderTexts, EverySetGeneratesItsRecordedText)
{
    const auto& sets = FeatureSets();
    ASSERT_EQ(std::size(TextDigests), sets.size()) << "one recorded digest per define set";
    for (size_t i = 0; i < sets.size(); ++i) {
        const TFeatureSet& set = sets[i];
        const TTextDigest& digest = TextDigests[i];
        ASSERT_STREQ(digest.Name, set.Name) << "digest rows follow the set table";
        TShaderPair pair;
        Configure(pair, set);
        const std::string vertex = pair.VS->ToString();
        const std::string fragment = pair.FS->ToString();
        const bool same = Fnv1a64(vertex) == digest.VertexHash && vertex.size() == digest.VertexLength &&
                          Fnv1a64(fragment) == digest.FragmentHash && fragment.size() == digest.FragmentLength;
        EXPECT_TRUE(same) << Describe(set) << "\n  now: " << DigestRow(set.Name, vertex, fragment);
    }
}

// The digest itself: a known value, and one changed byte changes it.
TEST(GLSLShaderTexts, DigestSeesEveryByte)
{
    EXPECT_EQ(Fnv1a64(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(Fnv1a64("foobar"), 0x85944171f73967e8ull);
    EXPECT_NE(Fnv1a64("  x = 1;\r\n"), Fnv1a64("  x = 1;\n\r"));
}
