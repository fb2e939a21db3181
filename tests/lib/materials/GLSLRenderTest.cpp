#include <gtest/gtest.h>

#include <cmath>

#include "Korvane.Material.Types.h"
#include "ShaderTestSupport.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// Draws a full-viewport quad at z = 0 facing +z with the generated shaders,
// the uniform block filled by hand and the model matrix the identity.
class GLSLRender : public ::testing::Test {
protected:
    struct TVertex {
        float Position[3];
        float Normal[3];
        float Color[4];
        float TexCoord[2];
        float Tangent[3];
    };

    void SetUp() override
    {
        EnsureGLContext();
        const TVertex quad[4] = {
            {{-1, -1, 0}, {0, 0, 1}, {1, 1, 1, 1}, {0, 0}, {1, 0, 0}},
            {{1, -1, 0}, {0, 0, 1}, {1, 1, 1, 1}, {1, 0}, {1, 0, 0}},
            {{-1, 1, 0}, {0, 0, 1}, {1, 1, 1, 1}, {0, 1}, {1, 0, 0}},
            {{1, 1, 0}, {0, 0, 1}, {1, 1, 1, 1}, {1, 1}, {1, 0, 0}},
        };
        glGenVertexArrays(1, &FVao);
        glBindVertexArray(FVao);
        glGenBuffers(1, &FVbo);
        glBindBuffer(GL_ARRAY_BUFFER, FVbo);
        glBufferData(GL_ARRAY_BUFFER, sizeof(quad), quad, GL_STATIC_DRAW);
        auto attribute = [](GLuint AIndex, GLint ASize, size_t AOffset) {
            glEnableVertexAttribArray(AIndex);
            glVertexAttribPointer(AIndex, ASize, GL_FLOAT, GL_FALSE, sizeof(TVertex),
                                  reinterpret_cast<const void*>(AOffset));
        };
        attribute(AttribPosition, 3, offsetof(TVertex, Position));
        attribute(AttribNormal, 3, offsetof(TVertex, Normal));
        attribute(AttribColor, 4, offsetof(TVertex, Color));
        attribute(AttribTexCoord0, 2, offsetof(TVertex, TexCoord));
        attribute(AttribTangent, 3, offsetof(TVertex, Tangent));
        // The per-instance model matrix, constant here: the identity's four columns.
        for (GLuint c = 0; c < 4; ++c)
            glVertexAttrib4f(AttribModelMatrix + c, c == 0 ? 1.0f : 0.0f, c == 1 ? 1.0f : 0.0f, c == 2 ? 1.0f : 0.0f,
                             c == 3 ? 1.0f : 0.0f);
        glGenBuffers(1, &FUbo);

        FData = InitShaderData();
        FData.ViewMatrix = TMatrix3D::Identity();
        FData.ProjectionMatrix = TMatrix3D::Identity();
        FData.ModelViewProjectionMatrix = TMatrix3D::Identity();
        // The material colours add up in the unlit sum: keep only the diffuse one.
        FData.Material._Emissive = TAlphaColorF(0, 0, 0, 1);
        FData.Material._Ambient = TAlphaColorF(0, 0, 0, 1);
        FData.Material._Specular = TAlphaColorF(0, 0, 0, 1);
        FData.Material._Diffuse = TAlphaColorF(1, 1, 1, 1);
        FData.EyePos = TVector3D(0, 0, 1, 1);
        // The material always adds the clip-plane define.
        FPair.Both({"CLIPPINGPLANE"});
    }

    void TearDown() override
    {
        if (FProgram) glDeleteProgram(FProgram);
        if (FTexture) glDeleteTextures(1, &FTexture);
        if (FNormalMap) glDeleteTextures(1, &FNormalMap);
        glDeleteBuffers(1, &FUbo);
        glDeleteBuffers(1, &FVbo);
        glBindVertexArray(0);
        glDeleteVertexArrays(1, &FVao);
    }

    // Builds the program of the current defines (once) and draws the quad.
    void Draw(OffscreenFramebuffer& AFrame)
    {
        if (!FProgram) {
            std::string error;
            FProgram = BuildProgram(FPair.VS->ToString(), FPair.FS->ToString(), "render test", error);
            ASSERT_NE(FProgram, 0u) << error;
        }
        AFrame.Bind();
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_BLEND);
        glDisable(GL_CULL_FACE);
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glUseProgram(FProgram);
        glBindBuffer(GL_UNIFORM_BUFFER, FUbo);
        glBufferData(GL_UNIFORM_BUFFER, sizeof(FData), &FData, GL_DYNAMIC_DRAW);
        glBindBufferBase(GL_UNIFORM_BUFFER, 0, FUbo);
        if (FTexture) {
            glActiveTexture(GL_TEXTURE0);
            glBindTexture(GL_TEXTURE_2D, FTexture);
            glUniform1i(glGetUniformLocation(FProgram, "_Texture0"), 0);
        }
        if (FNormalMap) {
            glActiveTexture(GL_TEXTURE1);
            glBindTexture(GL_TEXTURE_2D, FNormalMap);
            glUniform1i(glGetUniformLocation(FProgram, "_NormalMapTexture"), 1);
            glActiveTexture(GL_TEXTURE0);
        }
        glBindVertexArray(FVao);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glUseProgram(0);
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }

    // A 10 x 10 texture whose texel (i, j) is (20 i, 20 j, 0, 255), sampled nearest.
    void MakeGridTexture()
    {
        std::vector<uint8_t> texels;
        for (int j = 0; j < 10; ++j)
            for (int i = 0; i < 10; ++i) texels.insert(texels.end(), {uint8_t(20 * i), uint8_t(20 * j), 0, 255});
        glGenTextures(1, &FTexture);
        glBindTexture(GL_TEXTURE_2D, FTexture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 10, 10, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        FPair.Sampler("Texture0");
    }

    // A 1 x 1 normal map holding one tangent-space normal as a colour.
    void MakeNormalMap(uint8_t AR, uint8_t AG, uint8_t AB)
    {
        const uint8_t texel[4] = {AR, AG, AB, 255};
        glGenTextures(1, &FNormalMap);
        glBindTexture(GL_TEXTURE_2D, FNormalMap);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        FPair.Sampler("NormalMapTexture");
    }

    // One white point light at (0, 0, 1) over the quad's centre.
    void AddPointLight()
    {
        TKorvaneShaderLight light{};
        light.LightType = 1; // point
        light.Position = TVector3D(0, 0, 1, 1);
        light.Direction = TVector3D(0, 0, -1, 1);
        light.Ambient = TAlphaColorF(0, 0, 0, 1);
        light.Diffuse = TAlphaColorF(1, 1, 1, 1);
        light.Specular = TAlphaColorF(1, 1, 1, 1);
        light.ConstantAttenuation = 1;
        light.Intensity = 1;
        light.Enabled = 1;
        FData.Lights[0] = light;
        FData.LightsCount = 1;
    }

    TShaderPair FPair;
    TKorvaneShaderData FData{};
    GLuint FVao = 0, FVbo = 0, FUbo = 0, FProgram = 0, FTexture = 0, FNormalMap = 0;
};

} // namespace

TEST_F(GLSLRender, UnlitQuadTakesTheDiffuseColour)
{
    FData = InitShaderData(); // the block as the material starts with it
    FData.ViewMatrix = TMatrix3D::Identity();
    FData.ProjectionMatrix = TMatrix3D::Identity();
    FData.Material._Diffuse = TAlphaColorF(1, 0, 0, 1);
    OffscreenFramebuffer frame(16, 16);
    Draw(frame);
    EXPECT_TRUE(NearColor(frame.ReadPixel(8, 8), {255, 0, 0, 255}));
    EXPECT_TRUE(NearColor(frame.ReadPixel(0, 15), {255, 0, 0, 255}));

    // The clip plane discards the half behind it while its option bit is set.
    FData.Options = ShaderOptionClipPlane;
    FData.ClippingPlane = TVector3D(1, 0, 0, 0); // keeps x >= 0
    Draw(frame);
    EXPECT_TRUE(NearColor(frame.ReadPixel(12, 8), {255, 0, 0, 255}));
    EXPECT_TRUE(NearColor(frame.ReadPixel(3, 8), {0, 0, 255, 255}));
}

TEST_F(GLSLRender, TilingWrapsTheTextureCoordinate)
{
    FPair.Both({"USE_TEXTURE"});
    FPair.Fragment({"USE_TEXTURE0"});
    MakeGridTexture();
    OffscreenFramebuffer frame(100, 100);

    // Pixel (30, 70) has the coordinate (0.305, 0.705).
    Draw(frame);
    EXPECT_TRUE(NearColor(frame.ReadPixel(30, 70), {60, 140, 0, 255})) << "tiling 1: texel (3, 7)";

    // Tiling 4: mod(0.305 * 4, 1) = 0.22 and mod(0.705 * 4, 1) = 0.82, texel (2, 8).
    FData.Material._Texture[0]._Tiling = TPointF(4, 4);
    Draw(frame);
    EXPECT_TRUE(NearColor(frame.ReadPixel(30, 70), {40, 160, 0, 255}));
    // Only texture 0's tiling counts.
    FData.Material._Texture[1]._Tiling = TPointF(2, 2);
    Draw(frame);
    EXPECT_TRUE(NearColor(frame.ReadPixel(30, 70), {40, 160, 0, 255}));
}

TEST_F(GLSLRender, TranslucentFragmentsBelowTheAlphaFloorAreDiscarded)
{
    FData.Options = ShaderOptionTranslucent;
    OffscreenFramebuffer frame(8, 8);
    const std::array<uint8_t, 4> background = {0, 0, 255, 255};

    FData.Material._Diffuse = TAlphaColorF(1, 1, 1, 0.002f);
    Draw(frame);
    EXPECT_EQ(frame.ReadPixel(4, 4), background) << "alpha 0.002 is discarded";

    // Kept, and written as weighted colour: (rgb * a, a) * weight with
    // weight = a * 3000 at depth 0 (0.003 * 0.003 * 3000 = 0.027 of full scale).
    FData.Material._Diffuse = TAlphaColorF(1, 1, 1, 0.003f);
    Draw(frame);
    const auto kept = frame.ReadPixel(4, 4);
    EXPECT_NE(kept, background) << "alpha 0.003 is written";
    EXPECT_TRUE(NearColor(kept, {7, 7, 7, 7}, 2)) << int(kept[0]) << " " << int(kept[3]);

    // Opaque draws write the colour unweighted whatever the alpha.
    FData.Options = 0;
    Draw(frame);
    EXPECT_TRUE(NearColor(frame.ReadPixel(4, 4), {255, 255, 255, 1}));
}

TEST_F(GLSLRender, PointLightLambertIsBrightestFacingTheLight)
{
    FPair.Both({"LIGHTING"});
    AddPointLight();

    OffscreenFramebuffer frame(64, 64);
    Draw(frame);
    const auto centre = frame.ReadPixel(32, 32);
    const auto corner = frame.ReadPixel(1, 1);
    // N.L is 1 under the light and 1 / sqrt(1 + 2 * 0.97^2) = 0.59 at the corner.
    EXPECT_GE(centre[0], 250);
    EXPECT_NEAR(corner[0], 151, 8);
    EXPECT_GT(int(centre[0]) - int(corner[0]), 80);
    EXPECT_EQ(centre[0], centre[1]);
    EXPECT_EQ(centre[0], centre[2]);

    // Without lights nothing is lit.
    FData.LightsCount = 0;
    Draw(frame);
    EXPECT_TRUE(NearColor(frame.ReadPixel(32, 32), {0, 0, 0, 255}));
}

// A normal map's colour is a normal in the surface's tangent frame: a flat map
// (0.5, 0.5, 1) lights the quad exactly as its interpolated normal does, and a
// map tilted towards the tangent (+x) tilts the surface normal towards +x.
TEST_F(GLSLRender, NormalMapNormalsLiveInTheTangentFrame)
{
    FPair.Both({"LIGHTING", "USE_TEXTURE", "NORMALMAP", "BUMP"});
    FData.PassData._NormalIntensity = 1;
    AddPointLight();
    OffscreenFramebuffer frame(64, 64);

    MakeNormalMap(128, 128, 255);
    Draw(frame);
    EXPECT_GE(frame.ReadPixel(32, 32)[0], 250) << "a flat map faces the light at the centre";
    EXPECT_NEAR(frame.ReadPixel(1, 1)[0], 151, 8) << "and falls off as the interpolated normal does";

    // Tilted 30 degrees towards the tangent (+x): n = (0.5, 0, 0.866). On the left
    // (x = -0.75) the light comes from (0.6, 0, 0.8): N.L = 0.99; on the right
    // from (-0.6, 0, 0.8): N.L = 0.39.
    const uint8_t tilted[4] = {191, 128, 238, 255};
    glBindTexture(GL_TEXTURE_2D, FNormalMap);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, tilted);
    Draw(frame);
    EXPECT_GE(frame.ReadPixel(8, 32)[0], 240);
    EXPECT_NEAR(frame.ReadPixel(56, 32)[0], 100, 12);
}
