#include <gtest/gtest.h>

#include <array>
#include <string>

#include "Korvane.Material.SplatMap.h"
#include "MaterialTestSupport.h"

using namespace korvane;
using namespace korvane::test;

namespace {

using TRGBA = std::array<uint8_t, 4>;

// The four solid terrain colours (ARGB) and what they read as.
constexpr TAlphaColor Terrain[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};

// The splat map painted in four quadrants (2 x 2 texels, rows top first):
// red, green 128 / blue, black.
constexpr TAlphaColor Quadrants[4] = {0xFFFF0000, 0xFF008000, 0xFF0000FF, 0xFF000000};

void Paint(TBitmap& ABitmap, int AWidth, int AHeight, const TAlphaColor* AColors)
{
    ABitmap.SetSize(AWidth, AHeight);
    TBitmapData data;
    ASSERT_TRUE(ABitmap.Map(TMapAccess::Write, data));
    for (int y = 0; y < AHeight; ++y)
        for (int x = 0; x < AWidth; ++x) data.SetPixel(x, y, AColors[y * AWidth + x]);
    ABitmap.Unmap(data);
}

std::string Show(const TRGBA& APixel)
{
    return "(" + std::to_string(APixel[0]) + ", " + std::to_string(APixel[1]) + ", " + std::to_string(APixel[2]) +
           ", " + std::to_string(APixel[3]) + ")";
}

class SplatMap : public TMaterialDrawFixture {
protected:
    void SetUp() override
    {
        TMaterialDrawFixture::SetUp();
        FSource.reset(TKorvaneDefaultMaterialSource::Create<TKorvaneSplatMapMaterialSource>(nullptr));
        // Unlit, so that the blend itself reaches the pixels.
        FSource->SetUseLighting(false);
        FSource->SetEmissiveF(TAlphaColorF(0, 0, 0, 1));
        FSource->SetAmbientF(TAlphaColorF(0, 0, 0, 1));
        FSource->SetSpecularF(TAlphaColorF(0, 0, 0, 1));
        FSource->SetDiffuseF(TAlphaColorF(1, 1, 1, 1));
        for (int i = 0; i < 5; ++i)
            FSource->Bitmaps()->Items(i)->SetTextureMinMagFilter(TTextureFilter::Nearest, TTextureFilter::Nearest);
        for (int i = 0; i < 4; ++i) {
            TBitmap solid(1, 1);
            solid.Clear(Terrain[i]);
            FSource->SetSplatTexture(i, &solid);
        }
        Paint(FControl, 2, 2, Quadrants);
        FSource->SetTexture(&FControl);
    }
    void TearDown() override
    {
        FSource.reset();
        TMaterialDrawFixture::TearDown();
    }

    // ABackground: transparent black lets a translucent result read the same
    // whether or not the context blends it over the background.
    void Frame(TAlphaColor ABackground = 0xFF0000FF)
    {
        FContext->Clear({TClearTarget::Color, TClearTarget::Depth}, ABackground, 1.0f, 0);
        DrawQuad(FSource->Material());
    }

    // The quad covers pixels 8 to 23; one pixel inside each quadrant.
    TRGBA Quadrant(int AX, int AY) { return Pixel(AX == 0 ? 11 : 20, AY == 0 ? 11 : 20); }

    Owned<TKorvaneSplatMapMaterialSource> FSource;
    TBitmap FControl;
};

} // namespace

TEST_F(SplatMap, EachQuadrantReadsTheTerrainItsColourWeights)
{
    Frame();
    // green 128 = 0.502: 0.502 of terrain 1 (green) plus 0.498 of terrain 3 (white).
    struct TCase {
        int X, Y;
        TRGBA Expected;
        const char* What;
    };
    const TCase cases[] = {
        {0, 0, {255, 0, 0, 255}, "red reads terrain 0"},
        {1, 0, {127, 255, 127, 255}, "green 128 reads half terrain 1 plus half terrain 3"},
        {0, 1, {0, 0, 255, 255}, "blue reads terrain 2"},
        {1, 1, {255, 255, 255, 255}, "black reads terrain 3"},
    };
    for (const TCase& c : cases)
        EXPECT_TRUE(NearColor(Quadrant(c.X, c.Y), c.Expected, 3)) << c.What << ": " << Show(Quadrant(c.X, c.Y));
    EXPECT_TRUE(NearColor(Pixel(2, 2), {0, 0, 255, 255})) << "outside the quad";
}

TEST_F(SplatMap, BlackAsTransparentTakesEffectAtTheNextFrameWithoutANewProgram)
{
    Frame();
    ASSERT_FALSE(FSource->DefaultMaterial()->ShaderProgramOutdated());
    const TShaderProgram* program = TKorvaneContext::GetCurrentProgram();

    FSource->SetUseBlackAsTransparent(true);
    EXPECT_FALSE(FSource->DefaultMaterial()->ShaderProgramOutdated()) << "no rebuild";
    Frame(0x00000000);
    EXPECT_EQ(TKorvaneContext::GetCurrentProgram(), program);
    EXPECT_TRUE(NearColor(Quadrant(1, 1), {0, 0, 0, 0}, 2)) << "black: " << Show(Quadrant(1, 1));
    EXPECT_TRUE(NearColor(Quadrant(1, 0), {0, 128, 0, 128}, 3)) << "green 128 alone: " << Show(Quadrant(1, 0));
    EXPECT_TRUE(NearColor(Quadrant(0, 0), {255, 0, 0, 255}, 3)) << "red unchanged: " << Show(Quadrant(0, 0));

    FSource->SetUseBlackAsTransparent(false);
    Frame();
    EXPECT_TRUE(NearColor(Quadrant(1, 1), {255, 255, 255, 255}, 3)) << Show(Quadrant(1, 1));
}

TEST_F(SplatMap, PaintingAgainChangesTheNextFrame)
{
    Frame();
    ASSERT_TRUE(NearColor(Quadrant(0, 0), {255, 0, 0, 255}, 3));
    // The demo paints into its own image and assigns it after every stroke.
    const TAlphaColor allBlue[4] = {0xFF0000FF, 0xFF0000FF, 0xFF0000FF, 0xFF0000FF};
    Paint(FControl, 2, 2, allBlue);
    FSource->SetTexture(&FControl);
    EXPECT_TRUE(FSource->DefaultMaterial()->ShaderProgramOutdated());
    Frame();
    for (int q = 0; q < 4; ++q)
        EXPECT_TRUE(NearColor(Quadrant(q % 2, q / 2), {0, 0, 255, 255}, 3))
            << "quadrant " << q << ": " << Show(Quadrant(q % 2, q / 2));
}

TEST_F(SplatMap, ATilingOfFourShowsFourPeriodsOfAStripedTerrain)
{
    // Terrain 0 striped: a white column then a black one; the splat map all red.
    const TAlphaColor stripes[2] = {0xFFFFFFFF, 0xFF000000};
    TBitmap striped;
    Paint(striped, 2, 1, stripes);
    FSource->SetSplatTexture(0, &striped);
    const TAlphaColor allRed[4] = {0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000};
    Paint(FControl, 2, 2, allRed);
    FSource->SetTexture(&FControl);

    auto periodsAcross = [&] {
        Frame();
        int periods = 0;
        bool previousWhite = false;
        for (int x = 8; x < 24; ++x) {
            const bool white = Pixel(x, 16)[1] > 128;
            if (white && !previousWhite) ++periods;
            previousWhite = white;
        }
        return periods;
    };
    EXPECT_EQ(periodsAcross(), 1);
    FSource->SetSplatTextureTiling(0, TPointF(4, 4));
    EXPECT_EQ(periodsAcross(), 4);
    // The splat map's own tiling (pool position 4) repeats the whole pattern.
    FSource->SetTextureTiling(4, TPointF(2, 2));
    EXPECT_EQ(periodsAcross(), 8);
}

TEST_F(SplatMap, ATextureCoordinateOfExactlyOneWrapsToZero)
{
    // A quad whose every vertex has the coordinate (1, 1): it reads the
    // splat map at (0, 0), the red texel, not at the far corner (black).
    TVertexBuffer vertices({TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::TexCoord0}, 4);
    const float corners[4][2] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
    for (int i = 0; i < 4; ++i) {
        vertices.SetVertices(i, TPoint3D(corners[i][0], corners[i][1], 0));
        vertices.SetNormals(i, TPoint3D(0, 0, 1));
        vertices.SetTexCoord0(i, TPointF(1.0f, 1.0f));
    }
    TIndexBuffer indices(6);
    const uint32_t order[6] = {0, 1, 2, 0, 2, 3};
    for (int i = 0; i < 6; ++i) indices.SetIndices(i, order[i]);
    FContext->DrawPrimitives(TPrimitivesKind::Triangles, &vertices, &indices, FSource->Material(), 1.0f);
    EXPECT_TRUE(NearColor(Pixel(16, 16), {255, 0, 0, 255}, 3)) << Show(Pixel(16, 16));
}

TEST(SplatMapShader, WithoutItsDefineTheDefaultBaseColourComesBack)
{
    Owned<TKorvaneSplatMapMaterialSource> source(
        TKorvaneDefaultMaterialSource::Create<TKorvaneSplatMapMaterialSource>(nullptr));
    TKorvaneGLSLFragmentShader* fs = source->DefaultMaterial()->FragmentShaderNode();
    const std::string with = fs->ToString();
    EXPECT_NE(with.find("vec4 SplatMapSurf(inout vec2 p_TexCoord, in Material p_Material"), std::string::npos);
    EXPECT_NE(with.find("  LOCALS.BaseColor = SplatMapSurf(LOCALS.TexCoord0, _Material[0], _UseBlackAsTransparent, "
                        "_Texture0, _SplatTexture0, _SplatTexture1, _SplatTexture2, _SplatTexture3);\r\n"),
              std::string::npos);
    EXPECT_NE(with.find("uniform int _UseBlackAsTransparent;"), std::string::npos);
    EXPECT_NE(with.find("  vec2 l_Tiling0 = vec2(1.0, 1.0);\r\n"), std::string::npos);
    EXPECT_EQ(with.find("_Material[0]._Texture[0]._Tiling;"), std::string::npos) << "no tiling of coordinate 0";

    fs->RemoveDefine("SPLATMAP");
    const std::string without = fs->ToString();
    EXPECT_EQ(without.find("SplatMapSurf"), std::string::npos);
    EXPECT_NE(without.find("LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0);"), std::string::npos);
}
