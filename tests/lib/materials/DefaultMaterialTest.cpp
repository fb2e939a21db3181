#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "MaterialTestSupport.h"

using namespace korvane;
using namespace korvane::test;

namespace {

using M = TKorvaneDefaultMaterial;

bool InVS(const M& AMaterial, const char* ADefine) { return AMaterial.VertexShaderNode()->Defined(ADefine); }
bool InFS(const M& AMaterial, const char* ADefine) { return AMaterial.FragmentShaderNode()->Defined(ADefine); }

// A define switch: the defines it puts on both builders and on the fragment
// builder alone, and whether switching it on also switches texturing on.
struct TSwitch {
    const char* Name;
    std::function<void(M&, bool)> Set;
    std::function<bool(const M&)> Get;
    std::vector<const char*> Both;
    std::vector<const char*> Fragment;
    bool EnsuresTexturing = false;
};

#define SWITCH(Prop) \
    #Prop, [](M& m, bool v) { m.Set##Prop(v); }, [](const M& m) { return m.Prop(); }

const std::vector<TSwitch>& Switches()
{
    static const std::vector<TSwitch> switches = {
        {SWITCH(UseLighting), {"LIGHTING"}, {}},
        {SWITCH(UseSpecular), {"USE_SPECULAR"}, {}},
        {SWITCH(UseTexturing), {"USE_TEXTURE"}, {}},
        {SWITCH(UseTexture0), {}, {"USE_TEXTURE0"}, true},
        {SWITCH(UseVertexColor), {"USE_VERTEXCOLOR"}, {}},
        {SWITCH(UseDisplacementMapping), {"DISPLACEMENT"}, {}, true},
        {SWITCH(UseNormalMapping), {"NORMALMAP", "BUMP"}, {}, true},
        {SWITCH(UseSpecularMapping), {"SPECULARMAP"}, {}, true},
        {SWITCH(UseEmissiveTexture), {"EMISSIVEMAP"}, {}, true},
        {SWITCH(UseDepthMap), {"DEPTH"}, {}, true},
        {SWITCH(UseParallaxOcclusion), {"POM"}, {}},
        {SWITCH(UseColorClipping), {}, {"USE_COLORCLIP"}},
        {SWITCH(UseAlphaCutoff), {}, {"USE_ALPHACUTOFF"}},
        {SWITCH(UsePBRAlbedoTexture), {}, {"PBR_TEX_ALBEDO"}},
        {SWITCH(UsePBRMetallicTexture), {}, {"PBR_TEX_METALLIC"}},
        {SWITCH(UsePBRRoughnessTexture), {}, {"PBR_TEX_ROUGHNESS"}},
        {SWITCH(UsePBRAOTexture), {}, {"PBR_TEX_AO"}},
        {SWITCH(UsePBREmissiveTexture), {}, {"PBR_TEX_EMISSIVE"}},
        {SWITCH(UsePBRSpecularTexture), {}, {"SpecularMapTexture"}},
    };
    return switches;
}
#undef SWITCH

} // namespace

TEST(DefaultMaterial, EachSwitchAddsAndRemovesItsDefinesAndItsGetterFollows)
{
    for (const TSwitch& s : Switches()) {
        SCOPED_TRACE(s.Name);
        auto m = NewMaterial();
        EXPECT_FALSE(s.Get(*m)) << "off by default";
        const std::string before = m->FragmentShaderSource().IsDefined()
                                       ? std::string(m->FragmentShaderSource().Code.begin(),
                                                     m->FragmentShaderSource().Code.end())
                                       : std::string();
        s.Set(*m, true);
        for (const char* d : s.Both) EXPECT_TRUE(InVS(*m, d) && InFS(*m, d)) << d;
        for (const char* d : s.Fragment) {
            EXPECT_TRUE(InFS(*m, d)) << d;
            EXPECT_FALSE(InVS(*m, d)) << d << " stays off the vertex builder";
        }
        if (s.EnsuresTexturing) {
            EXPECT_TRUE(InVS(*m, "USE_TEXTURE") && InFS(*m, "USE_TEXTURE"));
        }
        EXPECT_TRUE(s.Get(*m));
        EXPECT_TRUE(m->ShaderProgramOutdated());

        s.Set(*m, false);
        for (const char* d : s.Both) EXPECT_FALSE(InVS(*m, d) || InFS(*m, d)) << d;
        for (const char* d : s.Fragment) EXPECT_FALSE(InFS(*m, d)) << d;
        // Switching a texture map off leaves texturing on.
        if (s.EnsuresTexturing) {
            EXPECT_TRUE(m->UseTexturing());
        }
        EXPECT_FALSE(s.Get(*m));
    }
}

TEST(DefaultMaterial, TexturingOffDropsTexture0ButLeavesTheTextureMapDefines)
{
    auto m = NewMaterial();
    m->SetUseTexture0(true);
    m->SetUseNormalMapping(true);
    m->SetUseDisplacementMapping(true);
    m->SetUseTexturing(false);
    EXPECT_FALSE(InFS(*m, "USE_TEXTURE0"));
    EXPECT_TRUE(InFS(*m, "NORMALMAP") && InVS(*m, "BUMP") && InVS(*m, "DISPLACEMENT"));
    EXPECT_FALSE(m->UseNormalMapping());
    EXPECT_FALSE(m->UseDisplacementMapping());
    EXPECT_FALSE(m->UseTexture0());
    m->SetUseTexturing(true);
    EXPECT_TRUE(m->UseNormalMapping()) << "the defines were kept";
    // "USE_TEXTURE" on one builder only is not texturing; switching a map on repairs it.
    m->VertexShaderNode()->RemoveDefine("USE_TEXTURE");
    EXPECT_FALSE(m->UseTexturing());
    m->SetUseSpecularMapping(true);
    EXPECT_TRUE(m->UseTexturing());
}

TEST(DefaultMaterial, ValuePropertiesAreClamped)
{
    struct TCase {
        const char* Name;
        std::function<void(M&)> Set;
        std::function<double(const M&)> Get;
        double Expected;
    };
    const TCase cases[] = {
        {"ParallaxLevels 1", [](M& m) { m.SetParallaxLevels(1); }, [](const M& m) { return m.ParallaxLevels(); }, 4},
        {"ParallaxLevels 1000", [](M& m) { m.SetParallaxLevels(1000); }, [](const M& m) { return m.ParallaxLevels(); },
         256},
        {"ParallaxLevels 40", [](M& m) { m.SetParallaxLevels(40); }, [](const M& m) { return m.ParallaxLevels(); }, 40},
        {"Shininess 150", [](M& m) { m.SetShininess(150); }, [](const M& m) { return m.Shininess(); }, 100},
        {"MetallicBias -1", [](M& m) { m.SetMetallicBias(-1); }, [](const M& m) { return m.MetallicBias(); }, 0},
        {"RoughnessBias 2", [](M& m) { m.SetRoughnessBias(2); }, [](const M& m) { return m.RoughnessBias(); }, 1},
        {"Brightness 11", [](M& m) { m.SetBrightness(11); }, [](const M& m) { return m.Brightness(); }, 10},
        {"NormalIntensity -3", [](M& m) { m.SetNormalIntensity(-3); }, [](const M& m) { return m.NormalIntensity(); },
         0},
        {"TonemappingExposure 20", [](M& m) { m.SetTonemappingExposure(20); },
         [](const M& m) { return m.TonemappingExposure(); }, 10},
    };
    for (const TCase& c : cases) {
        auto m = NewMaterial();
        c.Set(*m);
        EXPECT_EQ(c.Get(*m), c.Expected) << c.Name;
    }
    auto m = NewMaterial();
    EXPECT_EQ(m->ParallaxLevels(), 16);
    EXPECT_EQ(m->MetallicBias(), 0.25f);
    EXPECT_EQ(m->RoughnessBias(), 0.75f);
    EXPECT_EQ(m->ShadingModel(), TKorvaneShadingModel::smBlinnPhong);
    m->SetUseAlphaCutoff(true);
    EXPECT_EQ(m->ShaderData().Material._AlphaCutoff.X, 1.0f);
    m->SetUseAlphaCutoff(false);
    EXPECT_EQ(m->ShaderData().Material._AlphaCutoff.X, 0.0f);
}

TEST(DefaultMaterial, EnvironmentExcludesReflectionsAndRefractions)
{
    auto m = NewMaterial();
    m->SetReflections(true);
    m->SetRefractions(true);
    EXPECT_TRUE(m->UseTexturing()) << "both switch texturing on";
    m->SetEnvironment(true);
    EXPECT_TRUE(m->Environment());
    EXPECT_FALSE(m->Reflections());
    EXPECT_FALSE(m->Refractions());
    EXPECT_FALSE(InVS(*m, "REFLECTION") || InFS(*m, "REFLECTION") || InFS(*m, "REFRACTION"));
    EXPECT_TRUE(InVS(*m, "ENVIRONMENT") && InFS(*m, "ENVIRONMENT"));

    for (auto on : {&M::SetReflections, &M::SetRefractions}) {
        auto n = NewMaterial();
        n->SetEnvironment(true);
        ((*n).*on)(true);
        EXPECT_FALSE(n->Environment());
        EXPECT_FALSE(InVS(*n, "ENVIRONMENT") || InFS(*n, "ENVIRONMENT"));
    }
}

TEST(DefaultMaterial, ShadowMethodSwapsItsDefineOnlyWhileShadowsAreOn)
{
    auto m = NewMaterial();
    m->SetShadowMethod(TKorvaneShadowMethod::VarianceShadowMapping);
    EXPECT_FALSE(InFS(*m, "VARIANCESHADOWMAPPING") || InFS(*m, "SHADOW")) << "only stored while shadows are off";

    m->SetShadows(true);
    EXPECT_TRUE(InVS(*m, "SHADOW") && InFS(*m, "VARIANCESHADOWMAPPING") && InVS(*m, "VARIANCESHADOWMAPPING"));
    EXPECT_FALSE(InFS(*m, "SHADOWMAPPING"));
    EXPECT_TRUE(m->UseTexturing());

    m->SetShadowMethod(TKorvaneShadowMethod::ShadowMapping);
    EXPECT_TRUE(InVS(*m, "SHADOWMAPPING") && InFS(*m, "SHADOWMAPPING"));
    EXPECT_FALSE(InVS(*m, "VARIANCESHADOWMAPPING") || InFS(*m, "VARIANCESHADOWMAPPING"));

    m->SetShadows(false);
    for (const char* d : {"SHADOW", "SHADOWMAPPING", "VARIANCESHADOWMAPPING"})
        EXPECT_FALSE(InVS(*m, d) || InFS(*m, d)) << d;
}

TEST(DefaultMaterial, ToneMappingKeepsExactlyOneDefineOnTheFragmentBuilder)
{
    const char* defines[] = {"TONEMAP_EXPOSURE",      "TONEMAP_ACES_NARKOWICZ",     "TONEMAP_ACES_HILL",
                             "TONEMAP_ACES_HILL_EXPOSURE_BOOST", "TONEMAP_REINHARD", "TONEMAP_LUMABASED_REINHARD",
                             "TONEMAP_WP_LUMABASED_REINHARD", "TONEMAP_ROMBINDAHOUSE", "TONEMAP_FILMIC",
                             "TONEMAP_UNCHARTED2"};
    auto m = NewMaterial();
    for (int value = 10; value >= 0; --value) {
        m->SetTonemapping(static_cast<TKorvaneTonemapping>(value));
        EXPECT_EQ(m->Tonemapping(), static_cast<TKorvaneTonemapping>(value));
        for (int d = 0; d < 10; ++d) {
            EXPECT_EQ(InFS(*m, defines[d]), d + 1 == value) << "value " << value << ", " << defines[d];
            EXPECT_FALSE(InVS(*m, defines[d]));
        }
    }
}

TEST(DefaultMaterial, ShadingModelPicksItsDefineAtTheNextBuild)
{
    const char* models[] = {"PHONG", "BLINNPHONG", "PBR"};
    auto m = NewMaterial();
    for (int model = 0; model < 4; ++model) {
        m->SetShadingModel(static_cast<TKorvaneShadingModel>(model));
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(InVS(*m, models[i]), model == i + 1) << model << " " << models[i];
            EXPECT_EQ(InFS(*m, models[i]), model == i + 1) << model << " " << models[i];
        }
        EXPECT_TRUE(InFS(*m, "CLIPPINGPLANE"));
    }
}

TEST(DefaultMaterial, TextureVariablesOfAPlainPool)
{
    auto m = NewMaterial();
    m->SetUseLighting(true);
    m->SetUseTexture0(true);
    AddPoolEntry(*m, "Texture0");
    AddPoolEntry(*m, "");                                                         // unnamed: not listed
    AddPoolEntry(*m, "DisplacementMapTexture", TContextShaderKind::VertexShader); // the other stage
    AddPoolEntry(*m, "NormalMapTexture");
    m->UpdateShaderProgram();

    const auto& fs = m->FragmentShaderSource();
    ASSERT_EQ(fs.Variables.size(), 2u);
    EXPECT_EQ(fs.Variables[0].Name, "Texture0");
    EXPECT_EQ(fs.Variables[0].Kind, TContextShaderVariableKind::Texture);
    EXPECT_EQ(fs.Variables[0].Index, 0);
    EXPECT_EQ(fs.Variables[0].Size, 0);
    EXPECT_EQ(fs.Variables[1].Name, "NormalMapTexture");
    EXPECT_EQ(fs.Variables[1].Index, 1);
    const std::string text(fs.Code.begin(), fs.Code.end());
    EXPECT_NE(text.find("uniform sampler2D _Texture0;\r\n"), std::string::npos);
    EXPECT_EQ(text.find("_DisplacementMapTexture;"), std::string::npos);

    const auto& vs = m->VertexShaderSource();
    ASSERT_EQ(vs.Variables.size(), 1u);
    EXPECT_EQ(vs.Variables[0].Name, "DisplacementMapTexture");
    EXPECT_EQ(vs.Variables[0].Index, 0) << "each stage counts from 0";
    EXPECT_EQ(m->ShaderData().Material._PoolTextures, 0);
    EXPECT_EQ(m->FindTexturePoolEntryByName("NormalMapTexture"), m->Textures()->Items(3));
    EXPECT_EQ(m->FindTexturePoolEntryByName("normalmaptexture"), nullptr);
}

TEST(DefaultMaterial, TextureVariablesOfAPoolDeclaredAsAnArray)
{
    auto m = NewMaterial();
    m->Textures()->SetDeclareAsArray(true);
    m->UpdateShaderProgram();
    std::string text(m->FragmentShaderSource().Code.begin(), m->FragmentShaderSource().Code.end());
    EXPECT_NE(text.find("uniform sampler2D _PoolTexture[1];"), std::string::npos) << "declared even when empty";
    EXPECT_TRUE(m->FragmentShaderSource().Variables.empty());
    std::string vtext(m->VertexShaderSource().Code.begin(), m->VertexShaderSource().Code.end());
    EXPECT_EQ(vtext.find("sampler2D _PoolTexture"), std::string::npos) << "only the pixel stage declares the empty array";

    AddPoolEntry(*m, "Splat0");
    AddPoolEntry(*m, "Shadow")->SetIsDynamic(true);
    AddPoolEntry(*m, "Splat1");
    AddPoolEntry(*m, "Own")->SetIgnoreInArray(true);
    m->UpdateShaderProgram();
    const auto& vars = m->FragmentShaderSource().Variables;
    const std::vector<std::string> names = {"PoolTexture[0]", "Shadow", "PoolTexture[1]", "Own"};
    ASSERT_EQ(vars.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(vars[i].Name, names[i]);
        EXPECT_EQ(vars[i].Index, int(i));
        EXPECT_EQ(vars[i].ShaderKind, int(TContextShaderKind::PixelShader));
    }
    text.assign(m->FragmentShaderSource().Code.begin(), m->FragmentShaderSource().Code.end());
    EXPECT_NE(text.find("uniform sampler2D _PoolTexture[2];"), std::string::npos);
    EXPECT_NE(text.find("uniform sampler2D _Shadow;"), std::string::npos);
    EXPECT_NE(text.find("uniform sampler2D _Own;"), std::string::npos);
    EXPECT_EQ(m->ShaderData().Material._PoolTextures, 2);
}

TEST(DefaultMaterial, OnlyTheVertexAndPixelStagesHaveTextureVariables)
{
    auto m = NewMaterial();
    int index = 0;
    EXPECT_EQ(MessageOf([&] { m->DoGetTextureShaderVariables(static_cast<TContextShaderKind>(2), index); }),
              "TKorvaneDefaultMaterial.DoGetTextureShaderVariables - invalid shader kind");
}

TEST(DefaultMaterial, BitmapPoolCopiesIntoTheTexturePool)
{
    auto m = NewMaterial();
    AddPoolEntry(*m, "stale");
    Owned<TKorvaneBitmapPool> bitmaps(new TKorvaneBitmapPool(nullptr, TKorvaneBitmapPoolEntry::StaticClass()));
    for (const char* name : {"Texture0", "NormalMapTexture"}) {
        TKorvaneBitmapPoolEntry* e = bitmaps->Add();
        e->SetName(name);
        e->Bitmap()->SetSize(2, 2);
    }
    m->DoCopyBitmapPool(bitmaps.get());
    ASSERT_EQ(m->Textures()->Count(), 2);
    EXPECT_EQ(m->Textures()->Items(1)->DisplayName(), "NormalMapTexture");
    EXPECT_EQ(m->Textures()->Items(1)->Texture(), bitmaps->Items(1)->Bitmap()->Texture());
    m->DoCopyBitmapPool(nullptr);
    EXPECT_EQ(m->Textures()->Count(), 2) << "no pool: nothing changes";
}

TEST(DefaultMaterial, AllowedTexturesFollowTheDefines)
{
    auto m = NewMaterial();
    m->DoUpdateAllowedTextures();
    EXPECT_FALSE(m->AllowTexture0() || m->AllowShadowMapTexture() || m->AllowDisplacementMapTexture());
    m->SetUseTexture0(true);
    m->SetUseDisplacementMapping(true);
    m->SetShadows(true);
    m->SetEnvironment(true);
    m->DoUpdateAllowedTextures();
    EXPECT_TRUE(m->AllowTexture0());
    EXPECT_TRUE(m->AllowDisplacementMapTexture());
    EXPECT_TRUE(m->AllowShadowMapTexture());
    EXPECT_TRUE(m->AllowEnvironmentTexture());
    EXPECT_FALSE(m->AllowReflectionTexture());
    EXPECT_FALSE(m->AllowNormalMapTexture());
}

// The generated text of a stage is the builder's own text while texturing is
// on; without it, the features that need texturing are left out of the text
// but stay switched on the builder.
TEST(DefaultMaterial, FeaturesThatNeedTexturingAreLeftOutOfTheTextWithoutIt)
{
    auto m = NewMaterial();
    m->SetUseLighting(true);
    m->SetShadingModel(TKorvaneShadingModel::smPBR);
    m->SetUsePBRSpecularTexture(true);
    m->SetReflections(true);
    auto text = [](const TContextShaderSource& s) { return std::string(s.Code.begin(), s.Code.end()); };
    EXPECT_EQ(text(m->FragmentShaderSource()), m->FragmentShaderNode()->ToString());
    EXPECT_EQ(text(m->VertexShaderSource()), m->VertexShaderNode()->ToString());

    m->SetUseTexturing(false);
    EXPECT_TRUE(InFS(*m, "SpecularMapTexture") && InFS(*m, "REFLECTION")) << "the switches stay";
    EXPECT_TRUE(m->UsePBRSpecularTexture());
    auto plain = NewMaterial();
    plain->SetUseLighting(true);
    plain->SetShadingModel(TKorvaneShadingModel::smPBR);
    EXPECT_EQ(text(m->FragmentShaderSource()), text(plain->FragmentShaderSource()));
    EXPECT_EQ(text(m->VertexShaderSource()), text(plain->VertexShaderSource()));
}

// ---------------------------------------------------------------------------
// Registration

using DefaultMaterialProgram = TMaterialDrawFixture;

TEST_F(DefaultMaterialProgram, EachMaterialRegistersItsOwnShaderNames)
{
    auto a = NewMaterial();
    auto b = NewMaterial();
    a->Apply(FContext.get());
    b->Apply(FContext.get());
    ASSERT_NE(a->VertexShader(), nullptr);
    ASSERT_NE(b->PixelShader(), nullptr);
    // "default-", 16 upper-case hexadecimal digits, the extension.
    auto wellFormed = [](const std::string& AName, const std::string& AExtension) {
        if (AName.size() != 8 + 16 + AExtension.size() || AName.compare(0, 8, "default-") != 0 ||
            AName.compare(24, std::string::npos, AExtension) != 0)
            return false;
        return AName.find_first_not_of("0123456789ABCDEF", 8) == 24;
    };
    EXPECT_TRUE(wellFormed(a->VertexShader()->Name(), ".fvs")) << a->VertexShader()->Name();
    EXPECT_TRUE(wellFormed(a->PixelShader()->Name(), ".fps")) << a->PixelShader()->Name();
    EXPECT_NE(a->VertexShader()->Name(), b->VertexShader()->Name());
    EXPECT_NE(a->PixelShader()->Name(), b->PixelShader()->Name());
    EXPECT_EQ(a->VertexShader()->Name(), KorvaneDefaultShaderName(a.get(), ".fvs"));
    EXPECT_EQ(TShaderManager::FindShader(a->PixelShader()->Name()), a->PixelShader());

    // The material's shaders leave the manager with it.
    const std::string name = b->VertexShader()->Name();
    b.reset();
    EXPECT_EQ(TShaderManager::FindShader(name), nullptr);
}

TEST_F(DefaultMaterialProgram, ASwitchRegeneratesBothTextsAndTheNextApplyRegistersThem)
{
    auto m = NewMaterial();
    m->Apply(FContext.get());
    TContextShader* vs = m->VertexShader();
    TContextShader* ps = m->PixelShader();
    ASSERT_NE(TKorvaneContext::GetCurrentProgram(), nullptr);
    EXPECT_FALSE(m->ShaderProgramOutdated());
    const auto oldVS = m->VertexShaderSource().Code, oldFS = m->FragmentShaderSource().Code;

    m->SetUseTexturing(true);
    EXPECT_TRUE(m->ShaderProgramOutdated());
    EXPECT_NE(m->VertexShaderSource().Code, oldVS);
    EXPECT_NE(m->FragmentShaderSource().Code, oldFS);
    EXPECT_EQ(vs->GetSourceByArch(TContextShaderArch::GLSL).Code, oldVS) << "registered only at the next apply";

    m->Apply(FContext.get());
    EXPECT_FALSE(m->ShaderProgramOutdated());
    EXPECT_EQ(m->VertexShader(), vs) << "the registration keeps the shader object";
    EXPECT_EQ(m->PixelShader(), ps);
    EXPECT_EQ(vs->GetSourceByArch(TContextShaderArch::GLSL).Code, m->VertexShaderSource().Code);
    EXPECT_EQ(ps->GetSourceByArch(TContextShaderArch::GLSL).Code, m->FragmentShaderSource().Code);
    TShaderProgram* program = TKorvaneContext::GetCurrentProgram();
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program->VS(), vs->Handle());
    EXPECT_EQ(program->IndexOfUniformBuffer("ShaderData"), 0);
}

TEST_F(DefaultMaterialProgram, AShaderNameKeepsItsKind)
{
    TContextShader* shader = TShaderManager::RegisterShaderFromData("kind-test", TContextShaderKind::VertexShader, "",
                                                                    {});
    EXPECT_EQ(TShaderManager::RegisterShaderFromData("kind-test", TContextShaderKind::VertexShader, "", {}), shader);
    EXPECT_NE(MessageOf<EContext3DException>([] {
                  TShaderManager::RegisterShaderFromData("kind-test", TContextShaderKind::PixelShader, "", {});
              }),
              "(no exception)");
    TShaderManager::UnregisterShader("kind-test");
    EXPECT_EQ(TShaderManager::FindShader("kind-test"), nullptr);
}

// ---------------------------------------------------------------------------
// Drawing through the framework's path

TEST_F(DefaultMaterialProgram, AnUnlitMaterialDrawsItsDiffuseColour)
{
    auto m = NewMaterial();
    m->SetEmissive(TAlphaColorF(0, 0, 0, 1));
    m->SetAmbient(TAlphaColorF(0, 0, 0, 1));
    m->SetDiffuse(TAlphaColorF(1, 0, 0, 1));
    DrawQuad(m.get());
    EXPECT_TRUE(NearColor(Pixel(16, 16), {255, 0, 0, 255})) << int(Pixel(16, 16)[0]) << " " << int(Pixel(16, 16)[2]);
    EXPECT_TRUE(NearColor(Pixel(2, 2), {0, 0, 255, 255})) << "outside the quad";
}

TEST_F(DefaultMaterialProgram, ATexturedMaterialDrawsItsPoolBitmap)
{
    Owned<TKorvaneBitmapPool> bitmaps(new TKorvaneBitmapPool(nullptr, TKorvaneBitmapPoolEntry::StaticClass()));
    TKorvaneBitmapPoolEntry* entry = bitmaps->Add();
    entry->SetName("Texture0");
    entry->SetTextureMinMagFilter(TTextureFilter::Nearest, TTextureFilter::Nearest);
    entry->Bitmap()->SetSize(2, 2);
    entry->Bitmap()->Clear(0xFF00FF00); // opaque green
    auto m = NewMaterial();
    m->SetEmissive(TAlphaColorF(0, 0, 0, 1));
    m->SetAmbient(TAlphaColorF(0, 0, 0, 1));
    m->SetDiffuse(TAlphaColorF(1, 1, 1, 1));
    m->SetUseTexture0(true);
    m->DoCopyBitmapPool(bitmaps.get());
    m->UpdateShaderProgram();
    DrawQuad(m.get());
    EXPECT_TRUE(NearColor(Pixel(16, 16), {0, 255, 0, 255}, 3))
        << int(Pixel(16, 16)[0]) << " " << int(Pixel(16, 16)[1]) << " " << int(Pixel(16, 16)[2]);
}

// What the draw path keeps between draws (the program, its uniform block, the
// camera's eye, the context's type) must follow every change made between two
// draws of the same material.
TEST_F(DefaultMaterialProgram, ChangesBetweenDrawsOfOneMaterialShowInTheNextDraw)
{
    auto m = NewMaterial();
    m->SetEmissive(TAlphaColorF(0, 0, 0, 1));
    m->SetAmbient(TAlphaColorF(0, 0, 0, 1));
    const std::array<uint8_t, 4> background{0, 0, 255, 255};
    struct TStep {
        const char* What;
        std::function<void()> Change;
        std::optional<TAlphaColor> VertexColor;
        std::array<uint8_t, 4> Left, Middle, Right; // pixels (4, 16), (16, 16), (28, 16)
    };
    const std::array<uint8_t, 4> red{255, 0, 0, 255}, green{0, 255, 0, 255}, white{255, 255, 255, 255};
    const std::vector<TStep> steps = {
        {"red", [&] { m->SetDiffuse(TAlphaColorF(1, 0, 0, 1)); }, {}, background, red, background},
        {"green", [&] { m->SetDiffuse(TAlphaColorF(0, 1, 0, 1)); }, {}, background, green, background},
        {"moved right", [&] { FContext->SetMatrix(TMatrix3D::CreateTranslation({0.5f, 0, 0})); }, {}, background,
         green, green},
        {"moved left", [&] { FContext->SetMatrix(TMatrix3D::CreateTranslation({-0.5f, 0, 0})); }, {}, green,
         background, background},
        {"vertex colours: a new program",
         [&] {
             FContext->SetMatrix(TMatrix3D::Identity());
             m->SetDiffuse(TAlphaColorF(1, 1, 1, 1));
             m->SetUseVertexColor(true);
         },
         0xFF00FF00, background, green, background},
        {"program dropped from the cache",
         [&] {
             TShaderProgram* program = TKorvaneContext::GetCurrentProgram();
             ASSERT_NE(program, nullptr);
             FContext->RemoveProgram(program);
             FContext->SetMatrix(TMatrix3D::CreateTranslation({0.5f, 0, 0}));
         },
         0xFF00FF00, background, green, green},
        {"vertex colours off again",
         [&] {
             FContext->SetMatrix(TMatrix3D::Identity());
             m->SetUseVertexColor(false);
         },
         0xFF00FF00, background, white, background},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.What);
        step.Change();
        FContext->Clear({TClearTarget::Color, TClearTarget::Depth}, 0xFF0000FF, 1.0f, 0);
        DrawQuad(m.get(), step.VertexColor);
        const std::pair<std::array<uint8_t, 4>, int> checks[] = {{step.Left, 4}, {step.Middle, 16}, {step.Right, 28}};
        for (const auto& [expected, x] : checks) {
            const auto got = Pixel(x, 16);
            EXPECT_TRUE(NearColor(got, expected))
                << "x " << x << ": " << int(got[0]) << " " << int(got[1]) << " " << int(got[2]);
        }
    }
}

// A packed vertex colour is a TAlphaColor ($AARRGGBB): each channel must reach
// the picture as that channel, not as the one at its byte's place in memory.
TEST_F(DefaultMaterialProgram, VertexColoursDrawTheColourTheyName)
{
    auto m = NewMaterial();
    m->SetEmissive(TAlphaColorF(0, 0, 0, 1));
    m->SetAmbient(TAlphaColorF(0, 0, 0, 1));
    m->SetDiffuse(TAlphaColorF(1, 1, 1, 1));
    m->SetUseVertexColor(true);
    const struct {
        const char* What;
        TAlphaColor Color;
        std::array<uint8_t, 4> Pixel;
    } cases[] = {
        {"red", 0xFFFF0000, {255, 0, 0, 255}},
        {"blue", 0xFF0000FF, {0, 0, 255, 255}},
        {"green", 0xFF00FF00, {0, 255, 0, 255}},
        {"yellow", 0xFFFFFF00, {255, 255, 0, 255}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        FContext->Clear({TClearTarget::Color, TClearTarget::Depth}, 0xFF000000, 1.0f, 0); // opaque black
        DrawQuad(m.get(), c.Color);
        const auto got = Pixel(16, 16);
        EXPECT_TRUE(NearColor(got, c.Pixel)) << int(got[0]) << " " << int(got[1]) << " " << int(got[2]);
        EXPECT_TRUE(NearColor(Pixel(2, 2), {0, 0, 0, 255})) << "outside the quad";
    }
}

TEST_F(DefaultMaterialProgram, TheEyeHandedToTheShadersFollowsTheCamera)
{
    auto m = NewMaterial();
    const TMatrix3D cameras[] = {
        TMatrix3D::Identity(),
        TMatrix3D::CreateLookAtRH({0, 0, 5}, {0, 0, 0}, {0, 1, 0}),
        TMatrix3D::CreateLookAtRH({3, -2, 7}, {1, 1, 0}, {0, 1, 0}),
        TMatrix3D::Identity(),
    };
    for (const TMatrix3D& camera : cameras) {
        FContext->SetCameraMatrix(camera);
        m->Apply(FContext.get());
        const TPoint3D eye = camera.EyePosition();
        const TVector3D& handed = m->ShaderData().EyePos;
        EXPECT_EQ(handed.X, eye.X);
        EXPECT_EQ(handed.Y, eye.Y);
        EXPECT_EQ(handed.Z, eye.Z);
        m->Reset(FContext.get());
    }
}
