#include <gtest/gtest.h>

#include <cstring>

#include "Korvane.Material.Types.h"
#include "ShaderTestSupport.h"

using namespace korvane;
using namespace korvane::test;

TEST(ShaderData, InitShaderDataDefaults)
{
    const TKorvaneShaderData data = InitShaderData();
    EXPECT_EQ(data.ShadingModel, 2);
    EXPECT_EQ(data.ShadingIntensity, 1.0f);
    EXPECT_EQ(data.Brightness, 1.0f);
    EXPECT_EQ(data.ViewSize, TVector3D(0, 0, 1, 1000));
    EXPECT_EQ(data.ClippingPlane, TVector3D(0, 0, 0, 0));
    // The fog is on and linear before anything has applied one.
    EXPECT_EQ(data.FogMode, 3);
    EXPECT_EQ(data.FogDensity, 0.001f);
    EXPECT_EQ(data.FogStart, 100.0f);
    EXPECT_EQ(data.FogEnd, 500.0f);
    EXPECT_EQ(data.FogColor, TAlphaColorF(0, 0, 0, 1));
    EXPECT_EQ(data.LightsCount, 0);
    EXPECT_EQ(data.Options, 0);

    // The material block comes from its own initialiser; the pass data and the rest stay zero.
    TKorvaneShaderMaterialData material;
    InitShaderMaterialData(material);
    EXPECT_EQ(std::memcmp(&data.Material, &material, sizeof(material)), 0);
    const TKorvaneShaderPassData zeroPass{};
    EXPECT_EQ(std::memcmp(&data.PassData, &zeroPass, sizeof(zeroPass)), 0);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&data);
    for (size_t i = 0; i < offsetof(TKorvaneShaderData, ShadingModel); ++i) ASSERT_EQ(bytes[i], 0) << i;
}

// The block the declaration nodes write must be the record byte for byte: ask
// the GL implementation for the std140 layout it computed from the text.
TEST(ShaderData, GeneratedBlockMatchesTheRecordOnTheGPU)
{
    TShaderPair pair;
    std::string error;
    GLuint program = BuildProgram(pair.VS->ToString(), pair.FS->ToString(), "ShaderData layout", error);
    ASSERT_NE(program, 0u) << error;

    GLuint block = glGetUniformBlockIndex(program, "ShaderData");
    ASSERT_NE(block, GL_INVALID_INDEX);
    GLint size = 0;
    glGetActiveUniformBlockiv(program, block, GL_UNIFORM_BLOCK_DATA_SIZE, &size);
    EXPECT_EQ(size, 6352);
    EXPECT_EQ(size_t(size), sizeof(TKorvaneShaderData));

    using D = TKorvaneShaderData;
    using P = TKorvaneShaderPassData;
    const size_t material = offsetof(D, Material);
    const size_t light1 = offsetof(D, Lights) + sizeof(TKorvaneShaderLight);
    const size_t pass = offsetof(D, PassData);
    struct Member {
        const char* Name;
        size_t Offset;
    };
    const Member members[] = {
        {"_ModelViewProjectionMatrix", offsetof(D, ModelViewProjectionMatrix)},
        {"_ViewMatrix", offsetof(D, ViewMatrix)},
        {"_ProjectionMatrix", offsetof(D, ProjectionMatrix)},
        {"_TimeInfo", offsetof(D, TimeInfo)},
        {"_EyePos", offsetof(D, EyePos)},
        {"_ViewDir", offsetof(D, ViewDir)},
        {"_ShadingModel", offsetof(D, ShadingModel)},
        {"_LightsCount", offsetof(D, LightsCount)},
        {"_Options", offsetof(D, Options)},
        {"_ShadingIntensity", offsetof(D, ShadingIntensity)},
        {"_Brightness", offsetof(D, Brightness)},
        {"_FogMode", offsetof(D, FogMode)},
        {"_FogDensity", offsetof(D, FogDensity)},
        {"_FogStart", offsetof(D, FogStart)},
        {"_FogEnd", offsetof(D, FogEnd)},
        {"_FogColor", offsetof(D, FogColor)},
        {"_FrustumMin", offsetof(D, FrustumMin)},
        {"_FrustumMax", offsetof(D, FrustumMax)},
        {"_SceneMin", offsetof(D, SceneMin)},
        {"_SceneMax", offsetof(D, SceneMax)},
        {"_BoundaryMin", offsetof(D, BoundaryMin)},
        {"_BoundaryMax", offsetof(D, BoundaryMax)},
        {"_ViewSize", offsetof(D, ViewSize)},
        {"_ClippingPlane", offsetof(D, ClippingPlane)},
        // The material block (656 bytes at 240).
        {"_Material[0]._Emissive", material + 0},
        {"_Material[0]._Ambient", material + 16},
        {"_Material[0]._Diffuse", material + 32},
        {"_Material[0]._Specular", material + 48},
        {"_Material[0]._Clipping", material + 64},
        {"_Material[0]._AlphaCutoff", material + 80},
        {"_Material[0]._ToneMapExp", material + 88},
        {"_Material[0]._Displacement", material + 96},
        {"_Material[0]._Features", material + 112},
        {"_Material[0]._Shininess", material + 128},
        {"_Material[0]._Textures", material + 132},
        {"_Material[0]._PoolTexturesOffset", material + 136},
        {"_Material[0]._PoolTextures", material + 140},
        {"_Material[0]._Texture[0]._Feature", material + 144},
        {"_Material[0]._Texture[0]._Tiling", material + 160},
        {"_Material[0]._Texture[15]._Tiling", material + 144 + 15 * 32 + 16},
        // The second light (144-byte records from 896).
        {"_Lights[1]._LightType", light1 + 0},
        {"_Lights[1]._Position", light1 + 16},
        {"_Lights[1]._Direction", light1 + 32},
        {"_Lights[1]._Ambient", light1 + 48},
        {"_Lights[1]._Diffuse", light1 + 64},
        {"_Lights[1]._Specular", light1 + 80},
        {"_Lights[1]._Scattering", light1 + 96},
        {"_Lights[1]._SpotCutOff", light1 + 112},
        {"_Lights[1]._SpotCosCutoff", light1 + 116},
        {"_Lights[1]._SpotExponent", light1 + 120},
        {"_Lights[1]._ConstantAttenuation", light1 + 124},
        {"_Lights[1]._LinearAttenuation", light1 + 128},
        {"_Lights[1]._QuadraticAttenuation", light1 + 132},
        {"_Lights[1]._Intensity", light1 + 136},
        {"_Lights[1]._Enabled", light1 + 140},
        {"_Lights[31]._Enabled", offsetof(D, Lights) + 31 * 144 + 140},
        // The pass data.
        {"_PassData[0]._ShadowMapMatrix[0]", pass + offsetof(P, _ShadowMapMatrix)},
        {"_PassData[0]._ReflectTextureMatrix", pass + offsetof(P, _ReflectTextureMatrix)},
        {"_PassData[0]._RefractTextureMatrix", pass + offsetof(P, _RefractTextureMatrix)},
        {"_PassData[0]._ReflectionPower", pass + offsetof(P, _ReflectionPower)},
        {"_PassData[0]._RefractionPower", pass + offsetof(P, _RefractionPower)},
        {"_PassData[0]._TranslucentDistance", pass + offsetof(P, _TranslucentDistance)},
        {"_PassData[0]._NormalIntensity", pass + offsetof(P, _NormalIntensity)},
        {"_PassData[0]._ParallaxLevels", pass + offsetof(P, _ParallaxLevels)},
        {"_PassData[0]._PBRMetallic", pass + offsetof(P, _PBRMetallic)},
        {"_PassData[0]._PBRRoughness", pass + offsetof(P, _PBRRoughness)},
        {"_PassData[0]._PBRAO", pass + offsetof(P, _PBRAO)},
    };
    for (const auto& m : members) {
        const char* name = m.Name;
        GLuint index = GL_INVALID_INDEX;
        glGetUniformIndices(program, 1, &name, &index);
        ASSERT_NE(index, GL_INVALID_INDEX) << m.Name;
        GLint offset = -1, owner = -1;
        glGetActiveUniformsiv(program, 1, &index, GL_UNIFORM_OFFSET, &offset);
        glGetActiveUniformsiv(program, 1, &index, GL_UNIFORM_BLOCK_INDEX, &owner);
        EXPECT_EQ(GLuint(owner), block) << m.Name;
        EXPECT_EQ(size_t(offset), m.Offset) << m.Name;
    }
    // The fixed offsets of the block's material, second light and pass data.
    EXPECT_EQ(material, 240u);
    EXPECT_EQ(light1, 896u + 144u);
    EXPECT_EQ(pass, 5680u);
    glDeleteProgram(program);
}
