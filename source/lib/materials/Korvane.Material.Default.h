#pragma once
// The default material: the standard material of the framework. It owns a GLSL
// vertex-shader builder and a fragment-shader builder and expresses every
// feature as a define present or absent on them; each change regenerates both
// shader texts, and the next apply registers them with the shader manager under
// names unique to the material instance ("default-<16 hex digits>.fvs" / ".fps").
// On every draw it fills its "ShaderData" block and binds the textures of its
// texture pool.

#include <cstdint>
#include <map>
#include <memory>
#include <span>
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
class TKorvaneDefaultMaterialSource;
class TKorvaneRenderPassController;

class TKorvaneDefaultMaterial : public TCustomMaterial {
    KORVANE_CLASS(TKorvaneDefaultMaterial, TCustomMaterial)

    // The virtual constructor: a material of class T for ASource (may be
    // nullptr), initialised once the object is whole, so that a variant's
    // overrides build its shaders.
    template <class T = TKorvaneDefaultMaterial>
    static T* Create(TMaterialSource* ASource)
    {
        return InitializeObject(new T(ASource), [](T* AMaterial) {
            static_cast<TKorvaneDefaultMaterial*>(AMaterial)->AfterConstruction();
        });
    }
    // Use Create: the constructor leaves the shaders unbuilt.
    explicit TKorvaneDefaultMaterial(TMaterialSource* ASource);
    ~TKorvaneDefaultMaterial() override;

    TMaterialSource* Source() const { return FSource; }
    // The source when it is a default material source (the inputs and passes live there), else nullptr.
    // (Asked on every apply: kept from construction, when the source is whole.)
    TKorvaneDefaultMaterialSource* DefaultSource() const { return FDefaultSource; }
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
    // The last registered sources failed to build while the source was being
    // designed: applies do nothing until the sources change.
    bool ErrorOnBuildingShader() const { return FErrorOnBuildingShader; }
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
    virtual void DoApplyInputTextures(TKorvaneContext* AContext);
    virtual void DoApplyLights(TKorvaneContext* AContext);
    virtual void DoApplyShadowMaps(TKorvaneContext* AContext);
    virtual void DoApplyReflection(TKorvaneContext* AContext);
    virtual void DoApplyRefraction(TKorvaneContext* AContext);
    virtual void DoApplyDepthTexture(TKorvaneContext* AContext);
    virtual void DoApplyEnvironment(TKorvaneContext* AContext);
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
    // source adds or removes its default bitmaps.
    virtual void DoUpdateDefaultBitmaps();

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
    TKorvaneDefaultMaterialSource* FDefaultSource;
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


// ---------------------------------------------------------------------------
// The default material source

// The metaclass of the material sources: a source made through its class
// reference (form reading) is completed like one made by Create, so that the
// most-derived class creates its material and its default bitmaps.
class TKorvaneMaterialSourceClass : public TMetaClass {
public:
    using TMetaClass::TMetaClass;
    TComponent* CreateComponent(TComponent* AOwner) const override;
};

// The component a scene object points at to get a default material. It owns
// the named bitmaps the material samples (at most 16), the table of render-pass
// inputs (which pass output is bound under which shader name) and forwards
// nearly every property to the material. Every change of a pool bitmap
// rebuilds the material's texture pool, so an image assigned to Texture
// reaches the GPU and the next apply registers a new program.
class TKorvaneDefaultMaterialSource : public TMaterialSource {
    KORVANE_CLASS(TKorvaneDefaultMaterialSource, TMaterialSource)

    // The virtual constructor: a source of class T, completed once whole.
    template <class T = TKorvaneDefaultMaterialSource>
    static T* Create(TComponent* AOwner)
    {
        return InitializeObject(new T(AOwner), [](T* ASource) {
            static_cast<TKorvaneDefaultMaterialSource*>(ASource)->AfterConstruction();
        });
    }
    // Use Create or the class reference: the constructor leaves the material unmade.
    explicit TKorvaneDefaultMaterialSource(TComponent* AOwner);
    ~TKorvaneDefaultMaterialSource() override;

    static constexpr int MaxPoolEntries = 16;

    // The material, nullptr while it is being made or after destruction began.
    TKorvaneDefaultMaterial* DefaultMaterial() const { return FDefaultMaterial; }
    bool Designing() const { return ComponentState().Contains(csDesigning); }

    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

    // --- forwarded properties --------------------------------------------------

#define KORVANE_FORWARD(Type, Name)                                                                                  \
    virtual Type Name() const { return FDefaultMaterial->Name(); }                                                   \
    virtual void Set##Name(Type AValue) { FDefaultMaterial->Set##Name(AValue); }
    KORVANE_FORWARD(TKorvaneShadingModel, ShadingModel)
    KORVANE_FORWARD(float, ShadingIntensity)
    KORVANE_FORWARD(float, Brightness)
    KORVANE_FORWARD(bool, MeasureTime)
    KORVANE_FORWARD(float, Shininess)
    KORVANE_FORWARD(float, NormalIntensity)
    KORVANE_FORWARD(bool, InverseNormalMapping)
    KORVANE_FORWARD(int, ParallaxLevels)
    KORVANE_FORWARD(float, MetallicBias)
    KORVANE_FORWARD(float, RoughnessBias)
    KORVANE_FORWARD(float, AOBias)
    KORVANE_FORWARD(float, NearLimit)
    KORVANE_FORWARD(float, FarLimit)
    KORVANE_FORWARD(float, ReflectionPower)
    KORVANE_FORWARD(float, RefractionPower)
    KORVANE_FORWARD(bool, Reflections)
    KORVANE_FORWARD(bool, Refractions)
    KORVANE_FORWARD(bool, Environment)
    KORVANE_FORWARD(bool, UseLighting)
    KORVANE_FORWARD(bool, UseSpecular)
    KORVANE_FORWARD(bool, UseTexturing)
    KORVANE_FORWARD(bool, UseDisplacementMapping)
    KORVANE_FORWARD(bool, UseNormalMapping)
    KORVANE_FORWARD(bool, UseSpecularMapping)
    KORVANE_FORWARD(bool, UseEmissiveTexture)
    KORVANE_FORWARD(bool, UseDepthMap)
    KORVANE_FORWARD(bool, UseParallaxOcclusion)
    KORVANE_FORWARD(bool, UsePBRAlbedoTexture)
    KORVANE_FORWARD(bool, UsePBRMetallicTexture)
    KORVANE_FORWARD(bool, UsePBRRoughnessTexture)
    KORVANE_FORWARD(bool, UsePBRAOTexture)
    KORVANE_FORWARD(bool, UsePBREmissiveTexture)
    KORVANE_FORWARD(bool, UsePBRSpecularTexture)
    KORVANE_FORWARD(bool, UseVertexColor)
    KORVANE_FORWARD(bool, UseColorClipping)
    KORVANE_FORWARD(bool, UseAlphaCutoff)
    KORVANE_FORWARD(float, AlphaCutoff)
    KORVANE_FORWARD(TKorvaneTonemapping, Tonemapping)
    KORVANE_FORWARD(float, TonemappingExposure)
#undef KORVANE_FORWARD
    // Also runs UpdateDefaultBitmaps, so "Texture0" exists at once.
    virtual bool UseTexture0() const { return FDefaultMaterial->UseTexture0(); }
    virtual void SetUseTexture0(bool AValue);
    // Both also run UpdateDefaultBitmaps (the eight shadow-map entries follow).
    virtual bool Shadows() const { return FDefaultMaterial->Shadows(); }
    virtual void SetShadows(bool AValue);
    TKorvaneShadowMethod ShadowMethod() const { return FDefaultMaterial->ShadowMethod(); }
    virtual void SetShadowMethod(TKorvaneShadowMethod AValue);

    // The material's colours: Color and Diffuse are the same colour.
    virtual TAlphaColorF DiffuseF() const { return FDefaultMaterial->Diffuse(); }
    virtual void SetDiffuseF(const TAlphaColorF& AValue) { FDefaultMaterial->SetDiffuse(AValue); }
    virtual TAlphaColorF EmissiveF() const { return FDefaultMaterial->Emissive(); }
    virtual void SetEmissiveF(const TAlphaColorF& AValue) { FDefaultMaterial->SetEmissive(AValue); }
    virtual TAlphaColorF AmbientF() const { return FDefaultMaterial->Ambient(); }
    virtual void SetAmbientF(const TAlphaColorF& AValue) { FDefaultMaterial->SetAmbient(AValue); }
    virtual TAlphaColorF SpecularF() const { return FDefaultMaterial->Specular(); }
    virtual void SetSpecularF(const TAlphaColorF& AValue) { FDefaultMaterial->SetSpecular(AValue); }
    virtual TAlphaColorF ClippingColorF() const { return FDefaultMaterial->ClippingColor(); }
    virtual void SetClippingColorF(const TAlphaColorF& AValue) { FDefaultMaterial->SetClippingColor(AValue); }
    TAlphaColor Color() const { return DiffuseF().ToAlphaColor(); }
    void SetColor(TAlphaColor AValue) { SetDiffuseF(TAlphaColorF::Create(AValue)); }
    TAlphaColor Diffuse() const { return Color(); }
    void SetDiffuse(TAlphaColor AValue) { SetColor(AValue); }
    TAlphaColor Emissive() const { return EmissiveF().ToAlphaColor(); }
    void SetEmissive(TAlphaColor AValue) { SetEmissiveF(TAlphaColorF::Create(AValue)); }
    TAlphaColor Ambient() const { return AmbientF().ToAlphaColor(); }
    void SetAmbient(TAlphaColor AValue) { SetAmbientF(TAlphaColorF::Create(AValue)); }
    TAlphaColor Specular() const { return SpecularF().ToAlphaColor(); }
    void SetSpecular(TAlphaColor AValue) { SetSpecularF(TAlphaColorF::Create(AValue)); }
    TAlphaColor ClippingColor() const { return ClippingColorF().ToAlphaColor(); }
    void SetClippingColor(TAlphaColor AValue) { SetClippingColorF(TAlphaColorF::Create(AValue)); }
    // Read and written straight in the material block; no rebuild.
    TVector3D Displacement() const;
    void SetDisplacement(const TVector3D& AValue);

    // --- bitmaps ---------------------------------------------------------------

    TKorvaneBitmapPool* Bitmaps() const { return FBitmaps.get(); }
    // Creates the pool when missing, then copies AValue's entries into it.
    virtual void SetBitmaps(const TKorvaneBitmapPool* AValue);
    // The first entry of that name (case-sensitive), its bitmap; nullptr when none.
    TKorvaneBitmapPoolEntry* FindBitmapEntryByName(const std::string& AName) const;
    TKorvaneTextureBitmap* FindBitmapByName(const std::string& AName) const;
    // Adds (or reconfigures) the named entry. Raises when the pool is full (also
    // for a name it holds) or the name is empty; an entry of another texture
    // kind is replaced by a new one at the end of the pool.
    virtual TKorvaneBitmapPoolEntry* AddBitmap(const std::string& AName, TPixelFormatEx AInternalFormat,
                                               TPixelFormatEx AFormat, TKorvaneTextureDataType ADataType,
                                               bool AIsDynamic, bool AIgnoreInArray, bool AProtectFormatSettings,
                                               TContextShaderKind AShaderKind, TKorvaneTextureKind ATextureKind);
    void UpdateDefaultBitmaps() { DoUpdateDefaultBitmaps(); }
    // The image of "Texture0" ("NormalMapTexture", "DisplacementMapTexture").
    // A missing entry answers nullptr while designing and raises otherwise.
    virtual TKorvaneTextureBitmap* Texture() const;
    virtual void SetTexture(const TBitmap* AValue);
    virtual TKorvaneTextureBitmap* NormalMap() const;
    virtual void SetNormalMap(const TBitmap* AValue);
    virtual TKorvaneTextureBitmap* DisplacementMap() const;
    virtual void SetDisplacementMap(const TBitmap* AValue);
    // The tiling of the pool entry at AIndex ((0, 0) without a pool); the
    // setter rebuilds the texture pool.
    virtual TPointF GetTextureTiling(int AIndex) const;
    virtual void SetTextureTiling(int AIndex, const TPointF& AValue);

    // --- render-pass inputs ----------------------------------------------------

    // Pass outputs by shader name; a name stays once set, also with a nil pass.
    const std::map<std::string, TKorvaneRenderPassController*>& Inputs() const { return FInputs; }
    TKorvaneRenderPassController* Input(const std::string& AName) const;
    // Binds AValue's output under AName (the source hears when the pass goes).
    void SetInput(const std::string& AName, TKorvaneRenderPassController* AValue);
    // Sets the input and switches the material's depth mapping to (AValue assigned).
    virtual TKorvaneRenderPassController* DepthPass() const { return Input("DepthTexture"); }
    virtual void SetDepthPass(TKorvaneRenderPassController* AValue);
    virtual TKorvaneRenderPassController* ReflectionPass() const { return Input("ReflectionTexture"); }
    virtual void SetReflectionPass(TKorvaneRenderPassController* AValue) { SetInput("ReflectionTexture", AValue); }
    virtual TKorvaneRenderPassController* RefractionPass() const { return Input("RefractionTexture"); }
    virtual void SetRefractionPass(TKorvaneRenderPassController* AValue) { SetInput("RefractionTexture", AValue); }
    virtual TKorvaneRenderPassController* EnvironmentPass() const { return Input("EnvironmentTexture"); }
    virtual void SetEnvironmentPass(TKorvaneRenderPassController* AValue) { SetInput("EnvironmentTexture", AValue); }
    // Input "ShadowMapTexture<AIndex>".
    virtual TKorvaneRenderPassController* GetShadowMapPass(int AIndex) const;
    virtual void SetShadowMapPass(int AIndex, TKorvaneRenderPassController* AValue);
    TKorvaneRenderPassController* MainShadowMapPass() const { return GetShadowMapPass(0); }
    void SetMainShadowMapPass(TKorvaneRenderPassController* AValue) { SetShadowMapPass(0, AValue); }

    // --- user shader code ------------------------------------------------------

    // The lines of the user vertex (surface) function; nullptr without the node.
    virtual std::vector<std::string>* VertexShader() const;
    virtual void SetVertexShader(const std::vector<std::string>& AValue);
    virtual std::vector<std::string>* SurfaceShader() const;
    virtual void SetSurfaceShader(const std::vector<std::string>& AValue);

    // --- behaviours ------------------------------------------------------------

    // The material's collection; nullptr while destroying.
    virtual TKorvaneMaterialBehaviourCollection* Behaviours() const;
    virtual void SetBehaviours(const TKorvaneMaterialBehaviourCollection* AValue);
    virtual bool MaterialBehaviourAttached(TKorvaneMaterialBehaviour* ABehaviour) const;
    virtual int IndexOfMaterialBehaviour(TKorvaneMaterialBehaviour* ABehaviour) const;
    virtual void AttachMaterialBehaviour(TKorvaneMaterialBehaviour* ABehaviour);
    virtual void DetachMaterialBehaviour(TKorvaneMaterialBehaviour* ABehaviour);
    virtual void ClearMaterialsBehaviours();

    // The nearest enclosing model node, or nullptr.
    TComponent* FindModel();

    // --- definitions -----------------------------------------------------------

    // A new default source (of this class whatever class asks) owned by AOwner
    // and loaded from ADef when it is a material definition; nullptr otherwise.
    static TKorvaneDefaultMaterialSource* CreateFromDefinition(TComponent* AOwner, TCustomDef* ADef);
    // From a material definition (anything else is ignored): the values, the
    // user shader code, one pool entry per texture with its image, the
    // behaviours the enclosing model holds and the extensions "Shading",
    // "Maps" and "Displacement". The source remembers ADef in TagObject.
    virtual void LoadFromDefinition(TCustomDef* ADef);
    // Into a material definition (anything else is ignored): the same values,
    // every pool entry as a texture owning a copy of its image, the behaviour
    // references and the three extensions.
    virtual void StoreToDefinition(TCustomDef* ADef);

    // Rebuilds the material's texture pool from the bitmap pool (every GPU
    // texture made and uploaded again), then regenerates the shader sources.
    virtual void DoSyncTexturePool();

protected:
    friend class TKorvaneMaterialSourceClass;
    // The construction steps that need the whole object (run by Create).
    virtual void AfterConstruction();
    void BeforeDestruction() override;
    TMaterial* CreateMaterial() override;

    virtual void DoContextResetHandler();
    virtual void DoCreateBitmapPool();
    // The material's allowed textures, then the default bitmaps.
    virtual void DoUpdateDefaultBitmaps();
    // Adds the default bitmaps the material allows and removes the others.
    virtual void DoCreateDefaultBitmaps();
    // Removes the named entry and the texture-pool entry of its texture.
    void RemoveBitmap(const std::string& AName);
    // The bitmap of the named entry; nullptr while designing, AMissing raised otherwise.
    TKorvaneTextureBitmap* NamedBitmap(const std::string& AName, const char* AMissing) const;
    TOwned<TKorvaneBitmapPool> FBitmaps;
    std::map<std::string, TKorvaneRenderPassController*> FInputs;
    TKorvaneDefaultMaterial* FDefaultMaterial = nullptr;
    int FContextResetOvrId = 0;
};

// The extension AId of a material definition, added when missing.
TExtensionDef& TakeMaterialExtension(TMaterialDef& ADef, const char* AId);
// The value under AKey of the definition's extension AId; false when either is missing.
bool ReadMaterialExtension(const TMaterialDef& ADef, const char* AId, const char* AKey, TValue& AValue);

// A texture switch of the default source as a definition stores it: the key
// and the source's accessors.
struct TMaterialSwitchDef {
    const char* Key;
    bool (TKorvaneDefaultMaterialSource::*Get)() const;
    void (TKorvaneDefaultMaterialSource::*Set)(bool);
};
// The PBR texture switches, in the order they are written: extension "PBR"
// stores them, and extension "Maps" ends with them.
std::span<const TMaterialSwitchDef> MaterialPBRSwitches();

// The shader registration name of AMaterial's stage: "default-" + the
// material's address as 16 upper-case hexadecimal digits + AExtension.
std::string KorvaneDefaultShaderName(const void* AMaterial, const char* AExtension);

} // namespace korvane

// The class reference of a material source class: made through the source
// metaclass so that a source read from a form is completed like one made by Create.
#define KORVANE_IMPLEMENT_MATERIAL_SOURCE_CLASS(ThisClass, UnitName)                                                 \
    ::korvane::TClass ThisClass::StaticClass()                                                                       \
    {                                                                                                                \
        static const auto& info = *new ::korvane::TClassInfo<ThisClass, ::korvane::TKorvaneMaterialSourceClass>(UnitName); \
        return &info;                                                                                                \
    }
