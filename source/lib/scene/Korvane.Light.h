#pragma once
// TKorvaneLight: the framework's light. A platform light (enabled, type,
// colour, spot cut-off and exponent) with ambient and specular colours, an
// intensity, three attenuation factors and four light-scattering parameters,
// and the light definition it carries or was loaded from. The viewport hands
// each light's extended description (the 144-byte shader record) to the
// render context.

#include "Korvane.Context.Types.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Classes.h"
#include "Platform.Controls3D.h"
#include "Platform.Math3D.h"

namespace korvane {

class TLightDef;

class TKorvaneLight : public TLight {
    KORVANE_CLASS(TKorvaneLight, TLight)

    // Makes its own definition (see CreateOwnDefinition); the defaults:
    // ambient (0, 0, 0, 1), specular (1, 1, 1, 1), intensity 1, attenuations
    // (1, 0, 0), scattering (0.1, 0.0034, 1, 0.84).
    explicit TKorvaneLight(TComponent* AOwner);

    TLightDef* Def() const { return FDef; }

    // Scattering components by index.
    static constexpr int ScatteringIntensityIndex = 0; // within [0, 10]
    static constexpr int ScatteringExposureIndex = 1;  // within [0, 1]
    static constexpr int ScatteringDecayIndex = 2;     // within [0, 2]
    static constexpr int ScatteringDensityIndex = 3;   // within [0, 10]

    // The platform's description (absolute position and direction, colour as
    // diffuse) with this light's ambient, specular, attenuations, intensity
    // and scattering.
    virtual TKorvaneShaderLight GetLightDescriptionEx() const;
    TKorvaneShaderLight LightDescriptionEx() const { return GetLightDescriptionEx(); }

    virtual TAlphaColorF GetAmbient() const { return FAmbient; }
    virtual void SetAmbient(const TAlphaColorF& Value) { FAmbient = Value; }
    virtual TAlphaColorF GetSpecular() const { return FSpecular; }
    virtual void SetSpecular(const TAlphaColorF& Value) { FSpecular = Value; }
    float Intensity() const { return FIntensity; }
    // Kept within [0, 10].
    void SetIntensity(float Value);
    float ConstantAttenuation() const { return FConstantAttenuation; }
    virtual void SetConstantAttenuation(float Value) { FConstantAttenuation = Value; }
    float LinearAttenuation() const { return FLinearAttenuation; }
    virtual void SetLinearAttenuation(float Value) { FLinearAttenuation = Value; }
    float QuadraticAttenuation() const { return FQuadraticAttenuation; }
    virtual void SetQuadraticAttenuation(float Value) { FQuadraticAttenuation = Value; }
    // The component of the index; 0 for any other index.
    virtual float GetScatteringValue(int Index) const;
    // Stores the value kept within the index's range; other indices are ignored.
    virtual void SetScatteringValue(int Index, float Value);

    // Keeps ADef (not owned); an empty Name becomes the definition's component
    // name. Type, colours, intensity, attenuations and scattering (each kept
    // within its range) come from the definition, the position from the
    // translation of its matrix, and the light is turned to shine along the
    // definition's Direction (a zero direction leaves it unturned). Spot
    // cut-off and exponent stay.
    virtual void LoadFromDefinition(const TLightDef* ADef);

protected:
    void BeforeDestruction() override;

private:
    TLightDef* FDef = nullptr;
    TLightDef* FSelfDef = nullptr;
    bool FDefIsStandalone = true;
    TAlphaColorF FAmbient{0, 0, 0, 1};
    TAlphaColorF FSpecular{1, 1, 1, 1};
    float FIntensity = 1;
    float FConstantAttenuation = 1;
    float FLinearAttenuation = 0;
    float FQuadraticAttenuation = 0;
    TVector3D FScattering{0.1f, 0.0034f, 1.0f, 0.84f};
};

// The rotation that turns a node so that its +Z axis, the way a light
// shines, points along ADirection; no rotation for a zero direction.
TQuaternion3D RotationTowards(const TPoint3D& ADirection);

} // namespace korvane
