#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Korvane.Light.h"
#include "Korvane.Material.Default.h"
#include "Korvane.Utils.Dialogs.h"
#include "MaterialTestSupport.h"
#include "PassDoubles.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// What the material hands to the log window.
struct TLogWindowCall {
    std::string Title, Message;
    bool Reuse;
};

class ApplyStep : public TMaterialDrawFixture {
protected:
    void SetUp() override
    {
        TMaterialDrawFixture::SetUp();
        FSource.reset(TKorvaneDefaultMaterialSource::Create(nullptr));
        FSource->SetName("Ground");
        FPrevious = TLoggingForm::SetOpenProc([this](const std::string& ATitle, const std::string& AMessage,
                                                     bool AReuse) { FLogCalls.push_back({ATitle, AMessage, AReuse}); });
    }
    void TearDown() override
    {
        TLoggingForm::SetOpenProc(FPrevious);
        FSource.reset();
        FLights.clear();
        TMaterialDrawFixture::TearDown();
    }

    TKorvaneDefaultMaterial& Material() { return *FSource->DefaultMaterial(); }
    const TKorvaneShaderData& Block() { return Material().ShaderData(); }
    void Apply()
    {
        FContext->UnsetInstances();
        Material().Apply(FContext.get());
    }

    template <class TKind>
    TRecordingPass<TKind>* NewPass()
    {
        auto* pass = new TRecordingPass<TKind>(nullptr);
        FPasses.emplace_back(pass);
        return pass;
    }

    Owned<TKorvaneDefaultMaterialSource> FSource;
    std::vector<Owned<TKorvaneLight>> FLights;
    std::vector<Owned<TKorvaneRenderPassController>> FPasses;
    std::vector<TLogWindowCall> FLogCalls;
    TLoggingForm::TOpenProc FPrevious;
};

} // namespace

TEST_F(ApplyStep, FortyEnabledLightsGiveTheFirstThirtyTwoWithoutGaps)
{
    // 44 lights, four of them switched off in between: 40 enabled ones.
    const std::vector<int> disabled = {0, 5, 17, 33};
    std::vector<float> enabledIntensities;
    for (int i = 0; i < 44; ++i) {
        FLights.emplace_back(new TKorvaneLight(nullptr));
        TKorvaneLight& light = *FLights.back();
        light.SetIntensity(float(i) / 10.0f); // identifies the light in the block
        const bool off = std::find(disabled.begin(), disabled.end(), i) != disabled.end();
        light.SetEnabled(!off);
        if (!off) enabledIntensities.push_back(light.Intensity());
        FContext->AddLight(light.LightDescriptionEx());
    }
    ASSERT_EQ(enabledIntensities.size(), 40u);
    Apply();
    EXPECT_EQ(Block().LightsCount, 32);
    for (int k = 0; k < 32; ++k) {
        EXPECT_FLOAT_EQ(Block().Lights[k].Intensity, enabledIntensities[size_t(k)]) << "slot " << k;
        EXPECT_GT(Block().Lights[k].Enabled, 0) << "slot " << k;
    }

    FContext->ClearLights();
    Apply();
    EXPECT_EQ(Block().LightsCount, 0);
}

TEST_F(ApplyStep, FogLimitsAreKeptBetweenATenthAndOneThousand)
{
    struct TCase {
        float Start, End, ExpectStart, ExpectEnd;
    };
    for (const TCase& c : {TCase{0, 5000, 0.1f, 1000}, TCase{-5, 0.05f, 0.1f, 0.1f}, TCase{20, 300, 20, 300}}) {
        TKorvaneFogSettings fog = FContext->Fog();
        fog.FogStart = c.Start;
        fog.FogEnd = c.End;
        FContext->SetFog(fog);
        Apply();
        EXPECT_FLOAT_EQ(Block().FogStart, c.ExpectStart) << c.Start;
        EXPECT_FLOAT_EQ(Block().FogEnd, c.ExpectEnd) << c.End;
    }
    TKorvaneFogSettings fog = FContext->Fog();
    fog.Enabled = true;
    FContext->SetFog(fog);
    Apply();
    EXPECT_EQ(Block().FogMode, 1 | int32_t(fog.Mode));
}

TEST_F(ApplyStep, ClippingPlaneZeroOffGivesAZeroPlaneAndClearsItsBit)
{
    FContext->SetTranslucentRendering(true);
    Apply();
    EXPECT_EQ(Block().ClippingPlane, TVector3D(0, 0, 0, 0));
    EXPECT_EQ(Block().Options & ShaderOptionClipPlane, 0);
    EXPECT_EQ(Block().Options & ShaderOptionTranslucent, ShaderOptionTranslucent);
    FContext->SetTranslucentRendering(false);
}

TEST_F(ApplyStep, ADrawWithoutInstancesLeavesTheModelMatrixAsTheOneInstance)
{
    FContext->SetMatrix(TMatrix3D::CreateTranslation(TPoint3D(1, 2, 3)));
    Apply();
    EXPECT_EQ(FContext->InstanceCount(), 1);
    ASSERT_NE(FContext->InstanceBuffer(), nullptr);
}

TEST_F(ApplyStep, ShadowMapInputsAreBoundOnlyByTheShadowStepAndOnlyForIndexesZeroToSeven)
{
    auto* good = NewPass<TKorvaneRenderPassSMStoreDepth>();
    auto* eight = NewPass<TKorvaneRenderPassSMStoreDepth>();
    auto* letter = NewPass<TKorvaneRenderPassSMStoreDepth>();
    auto* reflection = NewPass<TKorvaneRenderPassReflection>();
    good->SetTextureMatrix(TMatrix3D::CreateTranslation(TPoint3D(0.25f, 0, 0)));
    FSource->SetShadowMapPass(0, good);
    FSource->SetShadowMapPass(8, eight);
    FSource->SetShadowMapPass(0, good);
    // A name that merely starts like a shadow map, through the generic input table.
    FSource->SetInput("ShadowMapTextureX", letter);
    FSource->SetReflectionPass(reflection);

    Apply();
    EXPECT_EQ(good->OutputRequests, 0) << "shadows off: no shadow map is bound";
    EXPECT_EQ(eight->OutputRequests, 0);
    EXPECT_EQ(letter->OutputRequests, 0);
    EXPECT_EQ(reflection->OutputRequests, 1) << "other inputs are bound by the input step";

    FSource->SetShadows(true);
    Apply();
    EXPECT_EQ(good->OutputRequests, 1);
    EXPECT_EQ(eight->OutputRequests, 0) << "index 8 is beyond the eight shadow maps";
    EXPECT_EQ(letter->OutputRequests, 0) << "a name without a number has no index";
    EXPECT_EQ(Block().PassData._ShadowMapMatrix[0], good->GetTextureMatrix(FContext.get(), true));
    EXPECT_NE(Block().PassData._ShadowMapMatrix[0], good->GetTextureMatrix(FContext.get(), false))
        << "the biased matrix";
    EXPECT_EQ(reflection->OutputRequests, 2);
}

TEST_F(ApplyStep, AVarianceBlurTakesTheMatrixOfTheDepthPassThatFeedsIt)
{
    auto* depth = NewPass<TKorvaneRenderPassVSMStoreDepth>();
    auto* blur = NewPass<TKorvaneRenderPassVSMBlur>();
    auto* lonelyBlur = NewPass<TKorvaneRenderPassVSMBlur>();
    depth->SetTextureMatrix(TMatrix3D::CreateScaling(TPoint3D(2, 2, 2)));
    blur->SetTextureMatrix(TMatrix3D::CreateTranslation(TPoint3D(9, 9, 9)));
    blur->InputPass = depth;
    FSource->SetShadowMethod(TKorvaneShadowMethod::VarianceShadowMapping);
    FSource->SetShadows(true);
    FSource->SetShadowMapPass(1, blur);
    FSource->SetShadowMapPass(2, lonelyBlur);
    Apply();
    EXPECT_EQ(Block().PassData._ShadowMapMatrix[1], depth->GetTextureMatrix(FContext.get(), true));
    EXPECT_EQ(blur->OutputRequests, 1) << "the blurred map is the blur pass's own output";
    EXPECT_EQ(depth->OutputRequests, 0);
    EXPECT_EQ(lonelyBlur->OutputRequests, 0) << "a blur without a variance depth pass is skipped";
}

TEST_F(ApplyStep, ReflectionRefractionAndEnvironmentMatricesFollowTheirPasses)
{
    auto* reflection = NewPass<TKorvaneRenderPassReflection>();
    auto* refraction = NewPass<TKorvaneRenderPassRefraction>();
    reflection->SetTextureMatrix(TMatrix3D::CreateScaling(TPoint3D(3, 3, 3)));
    refraction->SetTextureMatrix(TMatrix3D::CreateScaling(TPoint3D(5, 5, 5)));
    FSource->SetReflections(true);
    FSource->SetRefractions(true);
    FSource->SetReflectionPass(reflection);
    FSource->SetRefractionPass(refraction);
    FSource->SetReflectionPower(0.5f);
    FSource->SetRefractionPower(0.5f);
    Apply();
    EXPECT_EQ(Block().PassData._ReflectTextureMatrix, reflection->GetTextureMatrix(FContext.get(), true));
    EXPECT_EQ(Block().PassData._RefractTextureMatrix, refraction->GetTextureMatrix(FContext.get(), false));

    // A disabled pass leaves the matrix as it was; its texture is still bound.
    const int before = reflection->OutputRequests;
    reflection->SetTextureMatrix(TMatrix3D::Identity());
    reflection->SetEnabled(false);
    Apply();
    EXPECT_EQ(Block().PassData._ReflectTextureMatrix, TMatrix3D::CreateScaling(TPoint3D(3, 3, 3)) * KorvaneBiasMatrix());
    EXPECT_EQ(reflection->OutputRequests, before + 1);

    auto* environment = NewPass<TKorvaneRenderPassEnvironment>();
    FSource->SetEnvironment(true);
    FSource->SetEnvironmentPass(environment);
    Apply();
    EXPECT_EQ(Block().PassData._ReflectTextureMatrix, KorvaneBiasMatrix());
    const TMatrix3D bias = KorvaneBiasMatrix();
    EXPECT_FLOAT_EQ(bias.m11, 0.5f);
    EXPECT_FLOAT_EQ(bias.m42, 0.5f);
    EXPECT_FLOAT_EQ(bias.m44, 1.0f);
    EXPECT_FLOAT_EQ(bias.m14, 0.0f);
}

// A user surface function that does not compile.
const std::vector<std::string> BrokenSurface = {"void SurfaceShader(inout TLocals DATA){",
                                                "  DATA.BaseColor = undefinedThingHere;", "}"};

TEST_F(ApplyStep, InDesignModeABrokenShaderOpensTheLogWindowOnceAndTheMaterialStaysInert)
{
    GLErrorNetPause compileErrorsExpected;
    DesignTimeMode = true;
    FSource->SetDesigning(true);
    FSource->SetSurfaceShader(BrokenSurface);
    Apply();
    Apply();
    Apply();
    ASSERT_EQ(FLogCalls.size(), 1u);
    EXPECT_EQ(FLogCalls[0].Title, "Ground (TKorvaneDefaultMaterialSource) - failed to compile shader ...");
    EXPECT_NE(FLogCalls[0].Message.find("undefinedThingHere"), std::string::npos) << FLogCalls[0].Message;
    EXPECT_TRUE(FLogCalls[0].Reuse);
    EXPECT_TRUE(Material().ErrorOnBuildingShader());

    // A property change rebuilds the sources: the next apply works again.
    FSource->SetSurfaceShader({"void SurfaceShader(inout TLocals DATA){", "}"});
    Apply();
    EXPECT_FALSE(Material().ErrorOnBuildingShader());
    EXPECT_EQ(FLogCalls.size(), 1u);
    ASSERT_NE(TKorvaneContext::GetCurrentProgram(), nullptr);

    // A nameless source is shown as "?".
    FSource->SetName("");
    FSource->SetSurfaceShader(BrokenSurface);
    Apply();
    ASSERT_EQ(FLogCalls.size(), 2u);
    EXPECT_EQ(FLogCalls[1].Title, "? (TKorvaneDefaultMaterialSource) - failed to compile shader ...");
}

TEST_F(ApplyStep, OutsideDesignModeTheCompileErrorRaisesWithEachLogLineFollowedByItsSourceLine)
{
    GLErrorNetPause compileErrorsExpected;
    DesignTimeMode = true; // the context raises compile errors
    FSource->SetSurfaceShader(BrokenSurface);
    const std::string message = MessageOf<EContext3DException>([&] { Apply(); });
    EXPECT_NE(message.find("error"), std::string::npos) << message;
    EXPECT_NE(message.find("\t  DATA.BaseColor = undefinedThingHere;"), std::string::npos) << message;
    EXPECT_TRUE(FLogCalls.empty());
    EXPECT_FALSE(Material().ErrorOnBuildingShader());
    // Still broken: every apply raises again.
    EXPECT_NE(MessageOf<EContext3DException>([&] { Apply(); }), "(no exception)");
}
