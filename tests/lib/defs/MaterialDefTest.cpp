#include <gtest/gtest.h>

#include "Korvane.DefTypes.Material.h"
#include "ModelStandIn.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::MessageOf;
using korvane::test::TTestModel;

namespace {

std::unique_ptr<TJSONObject> Obj(std::string_view text) { return TJSONObject::ParseJSONObject(text); }

test::Owned<TMaterialDef> ReadMaterial(std::string_view text, TModelDef* model = nullptr)
{
    test::Owned<TMaterialDef> material(new TMaterialDef(model));
    material->FromJSON(model, *Obj(text));
    return material;
}

std::vector<std::string> Names(const TJSONObject& obj)
{
    std::vector<std::string> names;
    for (const TJSONPair& pair : obj) names.emplace_back(pair.Name());
    return names;
}

const char* const LayeredAddMessage = "cannot add submaterial to none layered material - set \"<TMaterialDef>.Kind\" "
                                      "at first to \"TMaterialDefKind.Layered\"";

class MaterialModel : public test::ModelFixture {};

} // namespace

TEST(MaterialDef, NewMaterialWritesEveryPlainPairWithItsDefault)
{
    test::Owned<TMaterialDef> material(new TMaterialDef());
    const auto json = material->ToJSON();
    const std::vector<std::string> expected = {
        "Type",           "Id",          "Model",         "Kind",        "UseOpacity",     "Opacity",
        "DoubleSided",    "Diffuse",     "Ambient",       "Emissive",    "Specular",       "SpecPow",
        "Brightness",     "ReflectionColor", "ReflectionPower", "UseReflection", "RefractionColor", "RefractionPower",
        "UseRefraction",  "Metallic",    "Roughness",     "AO",          "UseClipping",    "Clipping",
        "UseAlphaCutoff", "AlphaCutoff", "ParallaxOcclusionMapping", "ParallaxLevels", "NormalIntensity",
        "Tonemapping",    "TonemappingExposure"};
    EXPECT_EQ(Names(*json), expected);

    const std::pair<const char*, const char*> pairs[] = {
        {"Type", R"("")"},
        {"Model", R"("")"},
        {"Kind", "0"},
        {"Opacity", "1"},
        {"Diffuse", R"("0.7500 0.7500 0.7500 1.0000")"},
        {"Ambient", R"("0.3500 0.3500 0.3500 1.0000")"},
        {"Emissive", R"("0.0000 0.0000 0.0000 1.0000")"},
        {"Specular", R"("0.1500 0.1500 0.1500 1.0000")"},
        {"SpecPow", "0.5"},
        {"Brightness", "1"},
        {"Metallic", "1"},
        {"ParallaxLevels", "0"},
        {"Clipping", R"("0.0000 0.0000 0.0000 0.0000")"},
        {"UseClipping", "false"},
    };
    for (const auto& [key, value] : pairs) EXPECT_EQ(json->GetValue(key)->ToJSON(), value) << key;
}

TEST(MaterialDef, ReadingDefaultsAndTheCustomFlags)
{
    struct Case {
        const char* Json;
        TMaterialDefKind Kind;
        bool UseTexturing, UseTexture0, UseLighting, UseClipping;
        int32_t ParallaxLevels;
        float Opacity;
    };
    const Case cases[] = {
        // The custom flags default to false when read, not to their constructor values.
        {R"({"Kind": 9})", TMaterialDefKind::mkCustom, false, false, false, false, 16, 1},
        {R"({"Kind": 9, "UseTexturing": true, "UseLighting": true})", TMaterialDefKind::mkCustom, true, false, true,
         false, 16, 1},
        // Other kinds do not read the flags.
        {R"({"Kind": 2, "UseTexturing": false})", TMaterialDefKind::mkLambert, true, true, true, false, 16, 1},
        // Without "UseClipping" a visible clipping colour switches clipping on.
        {R"({"Clipping": "0 0 0 0.5"})", TMaterialDefKind::mkDefault, true, true, true, true, 16, 1},
        {R"({"Clipping": "1 1 1 0"})", TMaterialDefKind::mkDefault, true, true, true, false, 16, 1},
        {R"({"Clipping": "0 0 0 0.5", "UseClipping": false})", TMaterialDefKind::mkDefault, true, true, true, false,
         16, 1},
        {R"({"ParallaxLevels": 3, "Opacity": 0.25})", TMaterialDefKind::mkDefault, true, true, true, false, 3, 0.25f},
    };
    for (const Case& c : cases) {
        test::Owned<TMaterialDef> material(new TMaterialDef());
        material->Opacity = 0.5f; // a missing "Opacity" gives 1 whatever the material held
        material->FromJSON(nullptr, *Obj(c.Json));
        EXPECT_EQ(material->Kind, c.Kind) << c.Json;
        EXPECT_EQ(material->UseTexturing, c.UseTexturing) << c.Json;
        EXPECT_EQ(material->UseTexture0, c.UseTexture0) << c.Json;
        EXPECT_EQ(material->UseLighting, c.UseLighting) << c.Json;
        EXPECT_EQ(material->UseClipping, c.UseClipping) << c.Json;
        EXPECT_EQ(material->ParallaxLevels, c.ParallaxLevels) << c.Json;
        EXPECT_EQ(material->Opacity, c.Opacity) << c.Json;
    }
    EXPECT_EQ(MessageOf([] { ReadMaterial(R"({"Kind": 11})"); }), "invalid value for \"Kind\": 11");
    EXPECT_EQ(MessageOf<EInvalidCast>([] { ReadMaterial(R"({"Shaders": {}})"); }), "Invalid class typecast");
    EXPECT_EQ(MessageOf<EInvalidCast>([] { ReadMaterial(R"({"Textures": [1]})"); }), "Invalid class typecast");
}

namespace {

void FillEveryValue(TMaterialDef& m, TMaterialDefKind kind)
{
    m.TypeName = "Korvane.Material.Default.TKorvaneMaterialSource";
    m.SetId("Mat1");
    m.Kind = kind;
    m.ShadingModel = TKorvaneShadingModel::smPBR;
    m.UseTexturing = false;
    m.UseTexture0 = false;
    m.UseLighting = false;
    m.UseVertexColor = true;
    m.UseSpecular = true;
    m.Diffuse = {0.1f, 0.2f, 0.3f, 0.4f};
    m.Ambient = {0.5f, 0.6f, 0.7f, 0.8f};
    m.Emissive = {0.9f, 0.1f, 0.2f, 0.3f};
    m.Specular = {0.25f, 0.5f, 0.75f, 1};
    m.SpecPow = 32;
    m.Brightness = 1.5f;
    m.ReflectionColor = {0.2f, 0.4f, 0.6f, 0.8f};
    m.ReflectionPower = 0.35f;
    m.UseReflection = true;
    m.RefractionColor = {0.3f, 0.3f, 0.3f, 1};
    m.RefractionPower = 1.33f;
    m.UseRefraction = true;
    m.Metallic = 0.2f;
    m.Roughness = 0.7f;
    m.AO = 0.9f;
    m.UseClipping = false;
    m.Clipping = {0, 1, 0, 0.5f};
    m.UseAlphaCutoff = true;
    m.AlphaCutoff = 0.45f;
    m.ParallaxOcclusionMapping = true;
    m.ParallaxLevels = 24;
    m.NormalIntensity = 2;
    m.Tonemapping = TKorvaneTonemapping::tmFilmic;
    m.TonemappingExposure = 1.25f;
    m.UseOpacity = true;
    m.Opacity = 0.6f;
    m.DoubleSided = true;
}

} // namespace

TEST(MaterialDef, PBRAndCustomRoundTripsKeepEveryValue)
{
    for (const TMaterialDefKind kind : {TMaterialDefKind::mkPBR, TMaterialDefKind::mkCustom}) {
        test::Owned<TMaterialDef> source(new TMaterialDef());
        FillEveryValue(*source, kind);
        const std::string text = source->ToJSON()->ToJSON();
        auto read = ReadMaterial(text);
        EXPECT_EQ(read->ToJSON()->ToJSON(), text);
        EXPECT_EQ(read->Kind, kind);
        EXPECT_EQ(read->TypeName, source->TypeName);
        EXPECT_EQ(read->Diffuse, source->Diffuse);
        EXPECT_EQ(read->SpecPow, 32);
        EXPECT_EQ(read->ReflectionPower, 0.35f);
        EXPECT_EQ(read->Clipping, source->Clipping);
        EXPECT_FALSE(read->UseClipping) << "an explicit false stays although the clipping colour is visible";
        EXPECT_EQ(read->Tonemapping, TKorvaneTonemapping::tmFilmic);
        EXPECT_EQ(read->ParallaxLevels, 24);
        // The shading model and the five flags survive only for mkCustom.
        const bool custom = kind == TMaterialDefKind::mkCustom;
        EXPECT_EQ(read->ShadingModel, custom ? TKorvaneShadingModel::smPBR : TKorvaneShadingModel::smLambert);
        EXPECT_EQ(read->UseTexturing, !custom);
        EXPECT_EQ(read->UseVertexColor, custom);
        EXPECT_EQ(read->UseSpecular, custom);
    }
}

TEST(MaterialDef, ExtensionsShadersAndBehaviourReferences)
{
    test::Owned<TMaterialDef> material(new TMaterialDef());
    EXPECT_EQ(material->GetExtension("Shading"), nullptr);
    auto* first = material->AddExtension("Shading");
    auto* second = material->AddExtension("Shading");
    second->Properties().Add("Model", TValue::From(std::string("PBR")));
    material->AddExtension("Maps");
    EXPECT_EQ(material->GetExtension("Shading"), second) << "the one added last";
    EXPECT_NE(first, second);
    material->RemoveExtension("Shading");
    EXPECT_EQ(material->GetExtension("Shading"), nullptr) << "both are gone";
    EXPECT_EQ(material->Extensions()->Count(), 1);

    TMaterialBehaviourDef behaviour;
    EXPECT_EQ(material->AddMaterialBehaviourRef("", &behaviour), nullptr);
    EXPECT_EQ(material->BehaviourRefs(), nullptr) << "nothing was added";
    EXPECT_EQ(material->AddMaterialBehaviourRef("Wave", nullptr), nullptr);
    auto* older = material->AddMaterialBehaviourRef("Wave", &behaviour);
    auto* later = material->AddMaterialBehaviourRef("Wind", &behaviour);
    EXPECT_EQ(older->Id(), behaviour.Id());
    EXPECT_EQ(material->GetMaterialBehaviourRef(behaviour.Id()), later);
    EXPECT_EQ(material->GetMaterialBehaviourRef(&behaviour), later);
    EXPECT_EQ(material->GetMaterialBehaviourRefByDisplayName("Wave"), older);

    material->AddShader("vs", TContextShaderKindEx::VertexShader, "void main()\r\n{\n}\r", TShaderLanguage::GLSL);
    material->AddShader("te", TContextShaderKindEx::TessEvalShader, "x", TShaderLanguage::HLSL);
    EXPECT_EQ(material->GetShader("vs")->SourceCode, (std::vector<std::string>{"void main()", "{", "}"}));
    EXPECT_EQ(material->GetShader(TContextShaderKindEx::TessEvalShader)->Id(), "te");

    const std::string text = material->ToJSON()->ToJSON();
    EXPECT_NE(text.find(R"("Name":"Wave","Reference":")" + behaviour.Id() + "\""), std::string::npos) << text;
    auto read = ReadMaterial(text);
    // Without a model the references stay unresolved and write no "Reference";
    // from then on the text stays the same.
    const std::string readText = read->ToJSON()->ToJSON();
    EXPECT_EQ(readText.find("\"Reference\""), std::string::npos);
    EXPECT_EQ(ReadMaterial(readText)->ToJSON()->ToJSON(), readText);
    ASSERT_NE(read->GetExtension("Maps"), nullptr);
    EXPECT_EQ(read->GetMaterialBehaviourRefByDisplayName("Wind")->Id(), behaviour.Id());
    EXPECT_EQ(read->GetMaterialBehaviourRef(behaviour.Id())->Reference(), nullptr) << "no model to resolve it";
    EXPECT_EQ(read->GetShader("vs")->SourceText(), "void main()\r\n{\r\n}\r\n");
    EXPECT_EQ(read->GetShader("te")->Kind, TContextShaderKindEx::VertexShader) << "a tessellation kind is not written";
    EXPECT_EQ(read->GetShader("te")->Language, TShaderLanguage::HLSL);

    read->RemoveMaterialBehaviourRef(behaviour.Id());
    EXPECT_EQ(read->GetMaterialBehaviourRefByDisplayName("Wave"), nullptr);
    EXPECT_EQ(read->GetMaterialBehaviourRefByDisplayName("Wind"), nullptr);
    const TMaterialDef empty;
    EXPECT_GT(read->GetSize(), empty.GetSize() + 4 * int64_t(sizeof(TShaderDef))) << "lists are counted";
}

TEST(MaterialDef, ShaderKindAndLanguageNames)
{
    struct Case {
        const char* Json;
        TContextShaderKindEx Kind;
        TShaderLanguage Language;
        std::vector<std::string> Lines;
    };
    const Case cases[] = {
        {R"({"Kind": "pixelshader"})", TContextShaderKindEx::PixelShader, TShaderLanguage::GLSL, {}},
        {R"({"Kind": "GEOMETRYSHADER", "Language": "msl"})", TContextShaderKindEx::GeometryShader,
         TShaderLanguage::MSL, {}},
        // A lower-case key is another key; an unknown name leaves the value.
        {R"({"kind": "PixelShader", "Language": "Cg"})", TContextShaderKindEx::TessCtrlShader, TShaderLanguage::HLSL,
         {}},
        {R"({"SourceCode": "a\r\n\r\nb\n\rc"})", TContextShaderKindEx::TessCtrlShader, TShaderLanguage::GLSL,
         {"a", "", "b", "", "c"}},
    };
    for (const Case& c : cases) {
        TShaderDef shader;
        shader.Kind = TContextShaderKindEx::TessCtrlShader;
        shader.Language = TShaderLanguage::HLSL;
        shader.SourceCode = {"old"};
        shader.FromJSON(nullptr, *Obj(c.Json));
        EXPECT_EQ(shader.Kind, c.Kind) << c.Json;
        if (std::string(c.Json).find("Language") == std::string::npos)
            EXPECT_EQ(shader.Language, TShaderLanguage::GLSL) << "a missing language reads as GLSL";
        else EXPECT_EQ(shader.Language, c.Language) << c.Json;
        EXPECT_EQ(shader.SourceCode, c.Lines) << "a missing source empties it";
    }
}

TEST(MaterialDef, LayeredMaterials)
{
    const char* const layered = R"({"Kind": 7, "Materials": [{"Id": "A", "Kind": 1}, {"Id": "B"}]})";
    auto material = ReadMaterial(layered);
    ASSERT_NE(material->LayeredMaterials(), nullptr);
    ASSERT_EQ(material->LayeredMaterials()->size(), 2u);
    EXPECT_EQ(material->GetLayeredMaterialByIndex(0)->Id(), "A");
    EXPECT_EQ(material->GetLayeredMaterialByIndex(0)->Kind, TMaterialDefKind::mkColor);
    EXPECT_EQ(material->GetLayeredMaterial("B"), material->GetLayeredMaterialByIndex(1));
    EXPECT_EQ(material->GetLayeredMaterialByIndex(1)->ParentMaterial(), material.get());
    EXPECT_EQ(material->GetLayeredMaterialByIndex(-1), nullptr);
    EXPECT_EQ(material->GetLayeredMaterialByIndex(2), nullptr);
    EXPECT_EQ(ReadMaterial(material->ToJSON()->ToJSON())->ToJSON()->ToJSON(), material->ToJSON()->ToJSON());

    EXPECT_EQ(MessageOf([] { ReadMaterial(R"({"Kind": 0, "Materials": [{"Id": "A"}]})"); }), LayeredAddMessage);
    test::Owned<TMaterialDef> plain(new TMaterialDef());
    test::Owned<TMaterialDef> sub(new TMaterialDef());
    EXPECT_EQ(MessageOf([&] { plain->AddLayeredMaterial(sub.get()); }), LayeredAddMessage);
    EXPECT_EQ(MessageOf([&] { plain->GetLayeredMaterial("A"); }),
              "cannot get submaterial of none layered material - set \"<TMaterialDef>.Kind\" at first to "
              "\"TMaterialDefKind.Layered\"");
    material->ClearLayeredMaterials();
    EXPECT_EQ(material->LayeredMaterials(), nullptr);
}

TEST_F(MaterialModel, SubMaterialsBelongToTheModelTableAlone)
{
    // Freeing the model frees every material once, sub-materials included, in
    // whatever order the table frees them (ASan reports a second free).
    for (int order = 0; order < 3; ++order) {
        auto model = MakeOwned<TTestModel>();
        auto* layered = new TMaterialDef(model->AsModelDef());
        layered->FromJSON(model->AsModelDef(),
                          *Obj(R"({"Id": "M", "Kind": 7, "Materials": [{"Id": "A"}, {"Id": "Z"}]})"));
        ASSERT_EQ(model->Materials.size(), 3u);
        EXPECT_TRUE(layered->GetLayeredMaterial("A")->RegisteredWithModel());
        if (order == 1) {
            // The model frees a sub-material first: it leaves its parent's list.
            model->Materials.erase("A");
            ASSERT_EQ(layered->LayeredMaterials()->size(), 1u);
            EXPECT_EQ(layered->GetLayeredMaterialByIndex(0)->Id(), "Z");
        }
        if (order == 2) {
            // The parent goes first: its sub-materials stay with the model.
            model->Materials.erase("M");
            EXPECT_EQ(model->Materials.at("A")->ParentMaterial(), nullptr);
        }
    }
    // A sub-material refused by a non-layered parent stays with the model, freed once.
    auto model = MakeOwned<TTestModel>();
    auto* plain = new TMaterialDef(model->AsModelDef());
    EXPECT_EQ(MessageOf([&] { plain->FromJSON(model->AsModelDef(), *Obj(R"({"Id": "P", "Materials": [{"Id": "S"}]})")); }),
              LayeredAddMessage);
    EXPECT_EQ(model->Materials.size(), 2u);
    EXPECT_EQ(model->Materials.at("S")->ParentMaterial(), nullptr);
    // Registering an Id twice fails with the table's error.
    EXPECT_EQ(MessageOf([&] { new TMaterialDef(model->AsModelDef(), "P"); }), "Duplicates not allowed");
}

TEST_F(MaterialModel, BehaviourReferenceDefinedLaterResolvesInTheLatePass)
{
    auto model = MakeOwned<TTestModel>();
    // The material comes before the behaviour it refers to.
    model->Read(*Obj(R"({"Id": "Model_1", "Materials": [{"Id": "M", "BehaviourRefs": [
                            {"Id": "{11111111-2222-3333-4444-555555555555}", "Name": "Wave"}]}],
                        "Behaviours": []})"));
    auto* material = model->Materials.at("M").get();
    auto* ref = material->GetMaterialBehaviourRefByDisplayName("Wave");
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(ref->Reference(), nullptr) << "nothing of that Id in the model";

    auto later = MakeOwned<TTestModel>();
    auto behaviour = MakeOwned<TMaterialBehaviourDef>();
    behaviour->SetId("{11111111-2222-3333-4444-555555555555}");
    const auto materialJSON = Obj(R"({"Id": "M", "BehaviourRefs": [
                                     {"Id": "{11111111-2222-3333-4444-555555555555}", "Name": "Wave"}]})");
    auto* read = new TMaterialDef(later->AsModelDef());
    read->FromJSON(later->AsModelDef(), *materialJSON);
    EXPECT_EQ(read->GetMaterialBehaviourRefByDisplayName("Wave")->Reference(), nullptr) << "not read yet";
    ASSERT_EQ(later->LateList.size(), 1u) << "the unresolved reference waits for the late pass";
    later->Behaviours.push_back(std::move(behaviour));
    for (auto& [def, json] : later->LateList) EXPECT_TRUE(def->LateResolveFromJSON(later->AsModelDef(), *json));
    EXPECT_EQ(read->GetMaterialBehaviourRefByDisplayName("Wave")->Reference(), later->Behaviours[0].get());
}
