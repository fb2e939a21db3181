#pragma once
// The default material: the standard material of the framework. It owns a GLSL
// vertex-shader builder and a fragment-shader builder and expresses every
// feature as a define present or absent on them; each change regenerates both
// shader texts, and the next apply registers them with the shader manager under
// names unique to the material instance ("default-<16 hex digits>.fvs" / ".fps").
// On every draw it fills its "ShaderData" block and binds the textures of its
// texture pool.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Korvane.Material.Behaviour.h"
#include "Korvane.Material.Default.GLSL.h"
#include "Korvane.Material.Types.h"
#include "Platform.Materials3D.h"
#include "Platform.Threads.h"
#include "Platform.Types3D.h"

namespace korvane {

class TShaderProgram;
class TKorvaneContext;

class TKorvaneDefaultMaterial : public TCustomMaterial {
    KORVANE_CLASS(TKorvaneDefaultMaterial, TCustomMaterial)

    // The virtual constructor: a material of class T for ASource (may be
    // nullptr), initialised once the object is whole, so that a variant's
    // overrides build its shaders.
    template <class T = TKorvaneDefaultMaterial>
    static T* Create(TMaterialSource* ASource)
    {
        return InitializeObject(new T(ASource), [](T* AMaterial) { AMaterial->AfterConstruction(); });
    }
    // Use Create: the constructor leaves the shaders unbuilt.
    explicit TKorvaneDefaultMaterial(TMaterialSource* ASource);
    ~TKorvaneDefaultMaterial() override;

    TMaterialSource* Source() const { return FSource; }
    TKorvaneTexturePool* Textures() const { return FTextures.get(); }
    TKorvaneMaterialBehaviourCollection* Behaviours() const { return FBehaviours.get(); }
    // Assigns the given collection's items into the material's collection.
    virtual void SetBehaviours(const TKorvaneMaterialBehaviourCollection* AValue);
    TKorvaneGLSLVertexShader* VertexShaderNode() const { return FVSNode.get(); }
    TKorvaneGLSLFragmentShader* FragmentShaderNode() const { return FFSNode.get(); }
    // The generated sources of the two stages.
    const TContextShaderSource& VertexShaderSource() const { return FVSShaderSource; }
    const TContextShaderSource& FragmentShaderSource() const { return FFSShaderSource; }
    TKorvaneShaderData& ShaderData() { return FShaderData; }
    const TKorvaneShaderData& ShaderData() const { return FShaderData; }
    // The sources changed since they were last registered.
    bool ShaderProgramOutdated() const { return FUpdateShaderProgram; }
    // Marks the program for rebuilding and signals the change.
    void UpdateShaderProgram();

    // --- value properties: stored, effective at the next apply ---------------

    virtual TKorvaneShadingModel ShadingModel() const;
    // Stores the model and regenerates the shaders (its defines follow it).
    virtual void SetShadingModel(TKorvaneShadingModel AValue);
    virtual float ShadingIntensity() const { return FShaderData.ShadingIntensity; }
    virtual void SetShadingIntensity(float AValue); // clamped to 0..10
    virtual float Brightness() const { return FShaderData.Brightness; }
    virtual void SetBrightness(float AValue); // clamped to 0..10
    bool MeasureTime() const { return FMeasureTime; }
    // On: restarts the stopwatch; start, render and last time become now, delta 0.
    virtual void SetMeasureTime(bool AValue);
    virtual double StartTime() const { return FShaderData.TimeInfo.X; }
    virtual void SetStartTime(double AValue) { FShaderData.TimeInfo.X = float(AValue); }
    virtual double RenderTime() const { return FShaderData.TimeInfo.Y; }
    virtual void SetRenderTime(double AValue) { FShaderData.TimeInfo.Y = float(AValue); }
    virtual double LastTime() const { return FShaderData.TimeInfo.Z; }
    virtual void SetLastTime(double AValue) { FShaderData.TimeInfo.Z = float(AValue); }
    virtual double DeltaTime() const { return FShaderData.TimeInfo.W; }
    virtual TAlphaColorF Emissive() const { return FShaderData.Material._Emissive; }
    virtual void SetEmissive(const TAlphaColorF& AValue) { FShaderData.Material._Emissive = AValue; }
    virtual TAlphaColorF Diffuse() const { return FShaderData.Material._Diffuse; }
    virtual void SetDiffuse(const TAlphaColorF& AValue) { FShaderData.Material._Diffuse = AValue; }
    virtual TAlphaColorF Ambient() const { return FShaderData.Material._Ambient; }
    virtual void SetAmbient(const TAlphaColorF& AValue) { FShaderData.Material._Ambient = AValue; }
    virtual TAlphaColorF Specular() const { return FShaderData.Material._Specular; }
    virtual void SetSpecular(const TAlphaColorF& AValue) { FShaderData.Material._Specular = AValue; }
    virtual float Shininess() const { return FShaderData.Material._Shininess; }
    virtual void SetShininess(float AValue); // clamped to 0..100
    virtual TAlphaColorF ClippingColor() const { return FShaderData.Material._Clipping; }
    virtual void SetClippingColor(const TAlphaColorF& AValue) { FShaderData.Material._Clipping = AValue; }

    // --- define switches: each regenerates both shader texts -----------------

    virtual bool UseLighting() const;
    virtual void SetUseLighting(bool AValue);
    virtual bool UseSpecular() const;
    virtual void SetUseSpecular(bool AValue);
    virtual bool UseTexturing() const;
    // Off also drops "USE_TEXTURE0"; the texture-map defines stay.
    virtual void SetUseTexturing(bool AValue);
    virtual bool UseTexture0() const;
    virtual void SetUseTexture0(bool AValue);
    virtual bool UseDisplacementMapping() const;
    virtual void SetUseDisplacementMapping(bool AValue);
    virtual bool UseNormalMapping() const;
    virtual void SetUseNormalMapping(bool AValue);
    virtual bool UseSpecularMapping() const;
    virtual void SetUseSpecularMapping(bool AValue);
    virtual bool UseEmissiveTexture() const;
    virtual void SetUseEmissiveTexture(bool AValue);
    virtual bool UseDepthMap() const;
    virtual void SetUseDepthMap(bool AValue);
    // Asks the fragment builder alone.
    virtual bool UseParallaxOcclusion() const;
    virtual void SetUseParallaxOcclusion(bool AValue);
    virtual bool UsePBRAlbedoTexture() const;
    virtual void SetUsePBRAlbedoTexture(bool AValue);
    virtual bool UsePBRMetallicTexture() const;
    virtual void SetUsePBRMetallicTexture(bool AValue);
    virtual bool UsePBRRoughnessTexture() const;
    virtual void SetUsePBRRoughnessTexture(bool AValue);
    virtual bool UsePBRAOTexture() const;
    virtual void SetUsePBRAOTexture(bool AValue);
    virtual bool UsePBREmissiveTexture() const;
    virtual void SetUsePBREmissiveTexture(bool AValue);
    virtual bool UsePBRSpecularTexture() const;
    virtual void SetUsePBRSpecularTexture(bool AValue);
    virtual bool UseVertexColor() const;
    virtual void SetUseVertexColor(bool AValue);
    virtual bool UseColorClipping() const;
    virtual void SetUseColorClipping(bool AValue);
    virtual float NormalIntensity() const { return FNormalIntensity; }
    virtual void SetNormalIntensity(float AValue); // clamped to 0..10
    virtual bool InverseNormalMapping() const { return FInverseNormalMapping; }
    virtual void SetInverseNormalMapping(bool AValue) { FInverseNormalMapping = AValue; }
    virtual int ParallaxLevels() const { return FShaderData.PassData._ParallaxLevels; }
    virtual void SetParallaxLevels(int AValue); // clamped to 4..256
    virtual float AlphaCutoff() const { return FShaderData.Material._AlphaCutoff.Y; }
    virtual void SetAlphaCutoff(float AValue) { FShaderData.Material._AlphaCutoff.Y = AValue; }
    virtual bool UseAlphaCutoff() const;
    virtual void SetUseAlphaCutoff(bool AValue);
    virtual TKorvaneTonemapping Tonemapping() const { return FTonemapping; }
    // Exactly one tone-mapping define (none for tmNone) on the fragment builder.
    virtual void SetTonemapping(TKorvaneTonemapping AValue);
    virtual float TonemappingExposure() const { return FShaderData.Material._ToneMapExp; }
    virtual void SetTonemappingExposure(float AValue); // clamped to 0..10
    virtual float MetallicBias() const { return FShaderData.PassData._PBRMetallic; }
    virtual void SetMetallicBias(float AValue); // clamped to 0..1
    virtual float RoughnessBias() const { return FShaderData.PassData._PBRRoughness; }
    virtual void SetRoughnessBias(float AValue); // clamped to 0..1
    virtual float AOBias() const { return FShaderData.PassData._PBRAO; }
    virtual void SetAOBias(float AValue); // clamped to 0..1
    virtual float NearLimit() const { return FShaderData.ViewSize.Z; }
    virtual void SetNearLimit(float AValue) { FShaderData.ViewSize.Z = AValue; }
    virtual float FarLimit() const { return FShaderData.ViewSize.W; }
    virtual void SetFarLimit(float AValue) { FShaderData.ViewSize.W = AValue; }

    bool Shadows() const { return FShadows; }
    // On: "SHADOW" and the method's define on both builders, texturing on.
    virtual void SetShadows(bool AValue);
    TKorvaneShadowMethod ShadowMethod() const { return FShadowMethod; }
    // Stores the method and sets Shadows again to its current value.
    virtual void SetShadowMethod(TKorvaneShadowMethod AValue);
    // Driven by a depth pass: "DEPTH" on both builders.
    bool DepthMapping() const { return FDepthMapping; }
    virtual void SetDepthMapping(bool AValue);
    // Reflections and refractions each exclude the environment mapping, and it excludes both.
    bool Reflections() const { return FReflections; }
    virtual void SetReflections(bool AValue);
    bool Refractions() const { return FRefractions; }
    virtual void SetRefractions(bool AValue);
    bool Environment() const { return FEnvironment; }
    virtual void SetEnvironment(bool AValue);
    virtual float ReflectionPower() const { return FShaderData.PassData._ReflectionPower; }
    virtual void SetReflectionPower(float AValue) { FShaderData.PassData._ReflectionPower = AValue; }
    virtual float RefractionPower() const { return FShaderData.PassData._RefractionPower; }
    virtual void SetRefractionPower(float AValue) { FShaderData.PassData._RefractionPower = AValue; }

    // Which default bitmaps the source must provide (set by DoUpdateAllowedTextures).
    bool AllowTexture0() const { return FAllowTexture0; }
    bool AllowNormalMapTexture() const { return FAllowNormalMapTexture; }
    bool AllowDisplacementMapTexture() const { return FAllowDisplacementMapTexture; }
    bool AllowDepthTexture() const { return FAllowDepthTexture; }
    bool AllowReflectionTexture() const { return FAllowReflectionTexture; }
    bool AllowRefractionTexture() const { return FAllowRefractionTexture; }
    bool AllowEnvironmentTexture() const { return FAllowEnvironmentTexture; }
    bool AllowShadowMapTexture() const { return FAllowShadowMapTexture; }

    // The first texture-pool entry of that display name (case-sensitive); nullptr when none.
    virtual TKorvaneTexturePoolEntry* FindTexturePoolEntryByName(const std::string& AName) const;
    // Rebuilds the texture pool from ABitmaps (each bitmap entry assigned to a new texture entry).
    virtual void DoCopyBitmapPool(const TKorvaneBitmapPool* ABitmaps);
    virtual void DoUpdateAllowedTextures();

    // The texture variables of one stage, declaring their samplers on that
    // stage's builder. Raises for a stage other than vertex or pixel.
    virtual std::vector<TContextShaderVariable> DoGetTextureShaderVariables(TContextShaderKind AKind,
                                                                           int& AVarIndex);

protected:
    // The construction steps that need the whole object (run by Create).
    virtual void AfterConstruction();

    void DoInitialize() override;
    void DoApply(TContext3D* AContext) override;
    // Regenerates both shader texts, then tells the source.
    void DoChange() override;

    // Apply sub-steps.
    virtual void DoApplyPoolTextures(TKorvaneContext* AContext);
    virtual void DoApplyLights(TKorvaneContext* AContext);
    virtual void DoApplyMatrices(TKorvaneContext* AContext);
    virtual void DoUpdateTimeInfo(TKorvaneContext* AContext);
    virtual void DoApplyFog(TKorvaneContext* AContext);
    virtual void DoApplyBehaviours(TKorvaneContext* AContext);

    virtual std::unique_ptr<TKorvaneGLSLTextureUniformNode> DoCreateTextureUniformNode(
        TKorvaneNodeBuilder* ABuilder, const TKorvaneTexturePoolEntry* AEntry, const std::string& AName);
    virtual void DoReleaseShaders();
    virtual void DoCreateShaderProgram();
    virtual void DoRegisterUniformBuffers(TContext3D* AContext, TShaderProgram* AProgram);
    virtual void DoCreateVertexShaderBuilder();
    virtual void DoBuildVertexShader();
    virtual void DoUpdateVertexShader();
    virtual void DoCreateFragmentShaderBuilder();
    virtual void DoBuildFragmentShader();
    virtual void DoUpdateFragmentShader();
    virtual void DoInitTexturePool();
    // Runs when reflections, refractions or the environment switched: the
    // source adds or removes its default bitmaps here.
    virtual void DoUpdateDefaultBitmaps() {}

    // The text of a builder as the stage's source, without the features it cannot use.
    std::string BuilderText(TKorvaneNodeBuilder& ABuilder) const;
    // The source of one stage: the builder's text with its texture variables.
    TContextShaderSource BuildStageSource(TKorvaneNodeBuilder& ABuilder, TContextShaderKind AKind, int& AVarIndex);

    // Define helpers: on both builders or the fragment builder alone.
    void SetBoth(const char* ADefine, bool AOn);
    void SetFragment(const char* ADefine, bool AOn);
    bool DefinedBoth(const char* ADefine) const;
    bool DefinedFragment(const char* ADefine) const;
    // "USE_TEXTURE" on both builders, added to both when either lacks it.
    void EnsureTexturing();
    // A texture-map switch: on ensures texturing; its getter also needs texturing.
    void SetTextureMap(std::initializer_list<const char*> ADefines, bool AOn);
    bool TextureMap(std::initializer_list<const char*> ADefines) const;
    void ApplyShadingModelDefines(TKorvaneNodeBuilder& ABuilder) const;

    TMaterialSource* FSource;
    TKorvaneShaderData FShaderData;
    float FNormalIntensity = 1.0f;
    bool FInverseNormalMapping = false;
    std::unique_ptr<TKorvaneGLSLVertexShader> FVSNode;
    std::unique_ptr<TKorvaneGLSLFragmentShader> FFSNode;
    TContextShaderSource FVSShaderSource;
    TContextShaderSource FFSShaderSource;
    int FVSVarIndex = 0;
    int FFSVarIndex = 0;
    bool FErrorOnBuildingShader = false;
    bool FUpdateShaderProgram = false;
    bool FAllowTexture0 = false;
    bool FAllowNormalMapTexture = false;
    bool FAllowDisplacementMapTexture = false;
    bool FAllowDepthTexture = false;
    bool FAllowReflectionTexture = false;
    bool FAllowRefractionTexture = false;
    bool FAllowEnvironmentTexture = false;
    bool FAllowShadowMapTexture = false;
    TStopwatch FStopWatch;
    bool FMeasureTime = false;
    TOwned<TKorvaneTexturePool> FTextures;
    TOwned<TKorvaneMaterialBehaviourCollection> FBehaviours;
    bool FShadows = false;
    TKorvaneShadowMethod FShadowMethod = TKorvaneShadowMethod::ShadowMapping;
    TKorvaneTonemapping FTonemapping = TKorvaneTonemapping::tmNone;
    bool FReflections = false;
    bool FRefractions = false;
    bool FDepthMapping = false;
    bool FEnvironment = false;

private:
    // The names the two shaders are registered under.
    std::string ShaderName(const char* AExtension) const;
};

// The shader registration name of AMaterial's stage: "default-" + the
// material's address as 16 upper-case hexadecimal digits + AExtension.
std::string KorvaneDefaultShaderName(const void* AMaterial, const char* AExtension);

} // namespace korvane
