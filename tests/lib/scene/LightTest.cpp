// The framework light: kept ranges, the extended description and its shader
// record, loading from a definition (turned along its direction).

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "Korvane.Camera.h"
#include "Korvane.Light.h"
#include "Korvane.Mesh.h"
#include "Korvane.SceneDefs.h"
#include "Platform.FormResources.h"
#include "SceneTestClasses.h"
#include "TestHelpers.h"

namespace korvane {
namespace {

using test::NearPoint;
using test::Owned;

bool NearColorF(const TAlphaColorF& A, const TAlphaColorF& B)
{
    return std::fabs(A.R - B.R) < 1e-6f && std::fabs(A.G - B.G) < 1e-6f && std::fabs(A.B - B.B) < 1e-6f &&
           std::fabs(A.A - B.A) < 1e-6f;
}

template <class T>
T At(const unsigned char* ABytes, size_t AOffset)
{
    T value;
    std::memcpy(&value, ABytes + AOffset, sizeof value);
    return value;
}

TEST(Light, IntensityAndScatteringAreKeptWithinTheirRanges)
{
    Owned<TKorvaneLight> light(new TKorvaneLight(nullptr));
    struct IntensityCase {
        float Value, Stored;
    } intensities[] = {{25, 10}, {-1, 0}, {5, 5}, {10, 10}, {0, 0}};
    for (const auto& c : intensities) {
        light->SetIntensity(c.Value);
        EXPECT_FLOAT_EQ(light->Intensity(), c.Stored) << c.Value;
    }
    struct ScatteringCase {
        int Index;
        float Value, Stored;
    } scattering[] = {
        {TKorvaneLight::ScatteringExposureIndex, 3, 1}, {TKorvaneLight::ScatteringDecayIndex, 3, 2},
        {TKorvaneLight::ScatteringIntensityIndex, 11, 10}, {TKorvaneLight::ScatteringDensityIndex, -1, 0},
        {TKorvaneLight::ScatteringDensityIndex, 10, 10}, {TKorvaneLight::ScatteringExposureIndex, 0.5f, 0.5f},
    };
    for (const auto& c : scattering) {
        light->SetScatteringValue(c.Index, c.Value);
        EXPECT_FLOAT_EQ(light->GetScatteringValue(c.Index), c.Stored) << c.Index << " " << c.Value;
    }
    // Other indices are ignored and read as 0.
    const TVector3D before = light->LightDescriptionEx().Scattering;
    for (int index : {-1, 4, 100}) {
        light->SetScatteringValue(index, 0.25f);
        EXPECT_FLOAT_EQ(light->GetScatteringValue(index), 0) << index;
    }
    const TVector3D after = light->LightDescriptionEx().Scattering;
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    // The same through the published properties.
    TKorvaneLight::StaticClass()->FindProperty("ScatteringDecay")->SetValue(light.get(), TValue::From(5.0f));
    EXPECT_FLOAT_EQ(light->GetScatteringValue(TKorvaneLight::ScatteringDecayIndex), 2);
}

TEST(Light, TheDemosLightGivesItsExtendedDescriptionAndShaderRecord)
{
    Owned<TDummy> root(new TDummy(nullptr));
    ReadComponentResource(root.get(), "object Root: TDummy\n"
                                      "  object Camera1: TKorvaneCamera\n"
                                      "    Position.Z = -25\n"
                                      "    Position.Y = -10\n"
                                      "  end\n"
                                      "  object Light1: TKorvaneLight\n"
                                      "    Intensity = 1\n"
                                      "    ConstantAttenuation = 1\n"
                                      "    ScatteringIntensity = 0.1\n"
                                      "    ScatteringExposure = 0.0034\n"
                                      "    ScatteringDecay = 1\n"
                                      "    ScatteringDensity = 0.84\n"
                                      "  end\n"
                                      "end\n");
    auto* camera = dynamic_cast<TKorvaneCamera*>(root->FindComponent("Camera1"));
    auto* light = dynamic_cast<TKorvaneLight*>(root->FindComponent("Light1"));
    ASSERT_NE(camera, nullptr);
    ASSERT_NE(light, nullptr);
    camera->SetParent(root.get());
    light->SetParent(camera); // the demo's light rides on its camera

    const TKorvaneShaderLight d = light->LightDescriptionEx();
    EXPECT_TRUE(NearColorF(d.Ambient, {0, 0, 0, 1}));
    EXPECT_TRUE(NearColorF(d.Specular, {1, 1, 1, 1}));
    EXPECT_TRUE(NearColorF(d.Diffuse, {1, 1, 1, 1}));
    EXPECT_FLOAT_EQ(d.ConstantAttenuation, 1);
    EXPECT_FLOAT_EQ(d.LinearAttenuation, 0);
    EXPECT_FLOAT_EQ(d.QuadraticAttenuation, 0);
    EXPECT_FLOAT_EQ(d.Intensity, 1);
    EXPECT_TRUE(NearPoint({d.Scattering.X, d.Scattering.Y, d.Scattering.Z}, {0.1f, 0.0034f, 1}));
    EXPECT_FLOAT_EQ(d.Scattering.W, 0.84f);
    EXPECT_EQ(d.LightType, 1);
    EXPECT_TRUE(d.IsEnabled());

    // The 144-byte record as the shaders read it.
    unsigned char bytes[sizeof(TKorvaneShaderLight)];
    std::memcpy(bytes, &d, sizeof bytes);
    ASSERT_EQ(sizeof bytes, 144u);
    EXPECT_EQ(At<int32_t>(bytes, 0), 1);
    const float position[4] = {At<float>(bytes, 16), At<float>(bytes, 20), At<float>(bytes, 24), At<float>(bytes, 28)};
    EXPECT_TRUE(NearPoint({position[0], position[1], position[2]}, {0, -10, -25}));
    EXPECT_FLOAT_EQ(position[3], 1);
    const struct {
        size_t Offset;
        float Value;
    } floats[] = {
        {48, 0}, {52, 0}, {56, 0}, {60, 1},                  // ambient
        {64, 1}, {68, 1}, {72, 1}, {76, 1},                  // diffuse
        {80, 1}, {84, 1}, {88, 1}, {92, 1},                  // specular
        {96, 0.1f}, {100, 0.0034f}, {104, 1}, {108, 0.84f},  // scattering
        {124, 1}, {128, 0}, {132, 0}, {136, 1},              // attenuations, intensity
    };
    for (const auto& f : floats) EXPECT_FLOAT_EQ(At<float>(bytes, f.Offset), f.Value) << f.Offset;
    EXPECT_EQ(At<int32_t>(bytes, 140), 1);
}

class LightDefinition : public test::SceneClasses {};

TEST_F(LightDefinition, ValuesComeFromTheDefinitionWithinTheirRanges)
{
    TLightDef def(nullptr);
    def.SetId("Sun");
    def.LightType = TLightType::Spot;
    def.Diffuse = TAlphaColorF{1, 0, 0, 1};
    def.Ambient = TAlphaColorF{0.1f, 0.2f, 0.3f, 1};
    def.Specular = TAlphaColorF{0.5f, 0.5f, 0.5f, 0.5f};
    def.LinearAttenuation = 0.25f;
    def.QuadraticAttenuation = 0.125f;
    def.ConstantAttenuation = 2;
    def.ScatteringExposure = 3;
    def.ScatteringDecay = 3;
    def.SetTransform(TMatrix3D::CreateScaling({3, 3, 3}) * TMatrix3D::CreateTranslation({4, 5, 6}));

    Owned<TKorvaneLight> light(new TKorvaneLight(nullptr));
    light->SetSpotCutOff(30);
    light->LoadFromDefinition(&def);
    EXPECT_EQ(light->Def(), &def);
    EXPECT_EQ(light->Name(), "Sun");
    EXPECT_EQ(light->LightType(), TLightType::Spot);
    EXPECT_EQ(light->Color(), TAlphaColor(0xFFFF0000));
    EXPECT_TRUE(NearColorF(light->GetAmbient(), {0.1f, 0.2f, 0.3f, 1}));
    EXPECT_TRUE(NearColorF(light->GetSpecular(), {0.5f, 0.5f, 0.5f, 0.5f}));
    EXPECT_FLOAT_EQ(light->Intensity(), 10) << "the definition's 100, kept within range";
    EXPECT_FLOAT_EQ(light->ConstantAttenuation(), 2);
    EXPECT_FLOAT_EQ(light->LinearAttenuation(), 0.25f);
    EXPECT_FLOAT_EQ(light->QuadraticAttenuation(), 0.125f);
    EXPECT_FLOAT_EQ(light->GetScatteringValue(0), 0.1f);
    EXPECT_FLOAT_EQ(light->GetScatteringValue(1), 1);
    EXPECT_FLOAT_EQ(light->GetScatteringValue(2), 2);
    EXPECT_FLOAT_EQ(light->GetScatteringValue(3), 0.84f);
    EXPECT_TRUE(NearPoint(light->Position().Point(), {4, 5, 6}));
    EXPECT_TRUE(NearPoint(light->Scale().Point(), {1, 1, 1})) << "only the translation is taken";
    EXPECT_FLOAT_EQ(light->SpotCutOff(), 30);

    Owned<TKorvaneLight> unnamed(new TKorvaneLight(nullptr));
    TLightDef anonymous(nullptr);
    unnamed->LoadFromDefinition(&anonymous);
    EXPECT_EQ(unnamed->Name().rfind("Light_", 0), 0u) << unnamed->Name();
    EXPECT_THROW(unnamed->LoadFromDefinition(nullptr), EArgumentException);
}

TEST_F(LightDefinition, TheLightShinesAlongTheDefinitionsDirection)
{
    const TPoint3D directions[] = {
        {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {-1, 0, 0},
        {1, 2, -3}, {-0.3f, 0.1f, 0.9f}, {0, 5, 0.001f}, {2, -2, 0}, {0.001f, -1, 0},
    };
    for (const TPoint3D& d : directions) {
        SCOPED_TRACE(testing::Message() << d.X << " " << d.Y << " " << d.Z);
        TLightDef def(nullptr);
        def.Direction = d;
        Owned<TKorvaneLight> light(new TKorvaneLight(nullptr));
        light->LoadFromDefinition(&def);
        EXPECT_TRUE(NearPoint(light->AbsoluteDirection(), d.Normalize(), 1e-4f));
        EXPECT_TRUE(NearPoint(light->LightDescriptionEx().Direction.ToPoint3D(), d.Normalize(), 1e-4f));
    }
    // No direction: the light is not turned.
    TLightDef def(nullptr);
    def.Direction = TPoint3D{0, 0, 0};
    Owned<TKorvaneLight> light(new TKorvaneLight(nullptr));
    light->RotationAngle().SetPoint({10, 20, 30});
    light->LoadFromDefinition(&def);
    EXPECT_TRUE(NearPoint(light->RotationAngle().Point(), {0, 0, 0}));
    EXPECT_TRUE(NearPoint(light->AbsoluteDirection(), {0, 0, 1}));
}

TEST_F(LightDefinition, OwnDefinitionBelongsToTheOwningMeshDefinition)
{
    Owned<TKorvaneLight> standalone(new TKorvaneLight(nullptr));
    ASSERT_NE(standalone->Def(), nullptr);
    EXPECT_EQ(standalone->Def()->Owner(), nullptr);
    // Its own definition has the definition defaults; the light has its own.
    EXPECT_FLOAT_EQ(standalone->Def()->Intensity, 100);
    EXPECT_FLOAT_EQ(standalone->Intensity(), 1);

    TTransformDef meshDef(nullptr);
    Owned<TKorvaneMesh> mesh(new TKorvaneMesh(nullptr));
    mesh->SetDef(&meshDef);
    auto* light = new TKorvaneLight(mesh.get());
    EXPECT_EQ(light->Def()->Owner(), &meshDef);
}

} // namespace
} // namespace korvane
