// Every set of defines the default material's public switches can produce must
// compile and link through the framework's own program path: the shader
// manager, the context's program cache and its fixed attribute locations.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "MaterialTestSupport.h"

using namespace korvane;
using namespace korvane::test;

namespace {

using M = TKorvaneDefaultMaterial;

// One public setting: its name, how many values it has and how to set value v.
struct TSetting {
    const char* Name;
    int Values;
    std::function<void(M&, int)> Set;
};

#define BOOL_SETTING(Prop) {#Prop, 2, [](M& m, int v) { m.Set##Prop(v != 0); }}

const std::vector<TSetting>& Settings()
{
    static const std::vector<TSetting> settings = {
        BOOL_SETTING(UseLighting),
        BOOL_SETTING(UseSpecular),
        BOOL_SETTING(UseTexturing),
        BOOL_SETTING(UseTexture0),
        BOOL_SETTING(UseDisplacementMapping),
        BOOL_SETTING(UseNormalMapping),
        BOOL_SETTING(UseSpecularMapping),
        BOOL_SETTING(UseEmissiveTexture),
        BOOL_SETTING(UseDepthMap),
        BOOL_SETTING(UseParallaxOcclusion),
        BOOL_SETTING(UsePBRAlbedoTexture),
        BOOL_SETTING(UsePBRMetallicTexture),
        BOOL_SETTING(UsePBRRoughnessTexture),
        BOOL_SETTING(UsePBRAOTexture),
        BOOL_SETTING(UsePBREmissiveTexture),
        BOOL_SETTING(UsePBRSpecularTexture),
        BOOL_SETTING(UseVertexColor),
        BOOL_SETTING(UseColorClipping),
        BOOL_SETTING(UseAlphaCutoff),
        BOOL_SETTING(Shadows),
        BOOL_SETTING(Reflections),
        BOOL_SETTING(Refractions),
        BOOL_SETTING(Environment),
        BOOL_SETTING(DepthMapping),
        {"ShadingModel", 4, [](M& m, int v) { m.SetShadingModel(static_cast<TKorvaneShadingModel>(v)); }},
        {"Tonemapping", 11, [](M& m, int v) { m.SetTonemapping(static_cast<TKorvaneTonemapping>(v)); }},
        {"ShadowMethod", 2, [](M& m, int v) { m.SetShadowMethod(static_cast<TKorvaneShadowMethod>(v)); }},
    };
    return settings;
}
#undef BOOL_SETTING

const TSetting& SettingNamed(const std::string& AName)
{
    for (const TSetting& s : Settings())
        if (AName == s.Name) return s;
    throw Exception("no setting " + AName);
}

// A sequence of settings applied in order to a new material.
using TSequence = std::vector<std::pair<const TSetting*, int>>;

std::string Describe(const TSequence& ASequence, const M& AMaterial)
{
    std::string text = "settings:";
    for (const auto& [setting, value] : ASequence) text += Format(" %s=%d", setting->Name, value);
    auto defines = [](const TKorvaneNodeBuilder& B) {
        std::string list;
        for (const auto& d : B.Defines()) list += " " + d.first;
        return list;
    };
    return text + "\nvertex defines:" + defines(*AMaterial.VertexShaderNode()) +
           "\nfragment defines:" + defines(*AMaterial.FragmentShaderNode());
}

class DefaultMaterialShaders : public TMaterialDrawFixture {
protected:
    // Applies the sequence to a new material with every sampler declared, then
    // applies the material to the context: its program must be current.
    void ExpectCompiles(const TSequence& ASequence)
    {
        auto m = NewMaterial();
        for (const auto& [setting, value] : ASequence) setting->Set(*m, value);
        AddEverySampler(*m);
        std::string failure;
        // While designing, a compile failure raises with the compiler's log.
        DesignTimeMode = true;
        try {
            m->Apply(FContext.get());
        } catch (const Exception& e) {
            failure = e.Message();
        }
        DesignTimeMode = false;
        TShaderProgram* program = TKorvaneContext::GetCurrentProgram();
        if (failure.empty() && (!program || !m->VertexShader() || program->VS() != m->VertexShader()->Handle() ||
                                program->PS() != m->PixelShader()->Handle()))
            failure = "the material's program is not current";
        if (failure.empty()) return;
        const auto& vs = m->VertexShaderSource().Code;
        const auto& fs = m->FragmentShaderSource().Code;
        ADD_FAILURE() << Describe(ASequence, *m) << "\n"
                      << failure << "\nvertex shader:\n"
                      << NumberedSource(std::string(vs.begin(), vs.end())) << "\nfragment shader:\n"
                      << NumberedSource(std::string(fs.begin(), fs.end()));
    }
};

} // namespace

TEST_F(DefaultMaterialShaders, TheDefaultsAndEachSwitchAloneCompile)
{
    ExpectCompiles({});
    for (const TSetting& s : Settings())
        for (int v = 1; v < s.Values; ++v) {
            SCOPED_TRACE(Format("%s=%d", s.Name, v));
            ExpectCompiles({{&s, v}});
        }
}

TEST_F(DefaultMaterialShaders, EachShadingModelAndToneMapCompilesLit)
{
    const TSetting& lighting = SettingNamed("UseLighting");
    const TSetting& specular = SettingNamed("UseSpecular");
    const TSetting& model = SettingNamed("ShadingModel");
    const TSetting& tonemap = SettingNamed("Tonemapping");
    for (int m = 0; m < model.Values; ++m)
        for (int t = 0; t < tonemap.Values; ++t) ExpectCompiles({{&lighting, 1}, {&specular, 1}, {&model, m}, {&tonemap, t}});
}

// The cases the generated text could not compile before: features that need
// texturing left on while texturing is off.
TEST_F(DefaultMaterialShaders, TextureFeaturesWithTexturingSwitchedOffCompile)
{
    const TSetting& lighting = SettingNamed("UseLighting");
    const TSetting& model = SettingNamed("ShadingModel");
    const TSetting& texturing = SettingNamed("UseTexturing");
    ExpectCompiles({{&lighting, 1}, {&model, 3}, {&SettingNamed("UsePBRSpecularTexture"), 1}});
    for (const char* feature : {"Reflections", "Refractions", "Shadows", "UseNormalMapping", "UseSpecularMapping",
                                "UsePBRAlbedoTexture", "UsePBRMetallicTexture", "UseDisplacementMapping",
                                "UseParallaxOcclusion", "UseDepthMap", "UseEmissiveTexture", "Environment"})
        for (int shading : {2, 3}) {
            SCOPED_TRACE(feature);
            ExpectCompiles({{&lighting, 1}, {&model, shading}, {&SettingNamed(feature), 1}, {&texturing, 0}});
        }
}

TEST_F(DefaultMaterialShaders, RandomSequencesOfSwitchesCompile)
{
    std::mt19937 random(17);
    const auto& settings = Settings();
    for (int round = 0; round < 320; ++round) {
        TSequence sequence;
        const int length = 4 + int(random() % 16);
        for (int i = 0; i < length; ++i) {
            const TSetting& s = settings[random() % settings.size()];
            sequence.push_back({&s, int(random() % unsigned(s.Values))});
        }
        SCOPED_TRACE(Format("round %d", round));
        ExpectCompiles(sequence);
    }
}
