#pragma once
// The camera and light definitions as far as the scene's camera and light
// read them: a definition tree node with the parameters of its kind and the
// component name a node made from it takes. Their JSON form is the transform
// definition's; the definition model's full light and camera classes (with
// their own JSON pairs) take the place of this unit.
//
// Also the rule by which a camera or light makes a definition of its own.

#include <string>

#include "Korvane.DefTypes.h"
#include "Platform.Math3D.h"
#include "Platform.Types3D.h"

namespace korvane {

class TCameraDef : public TTransformDef {
    KORVANE_CLASS(TCameraDef, TTransformDef)

    // Target empty, FOV 45 degrees.
    explicit TCameraDef(TCustomDef* AOwner);

    // The name of the component the camera looks at.
    const std::string& Target() const { return FTarget; }
    void SetTarget(const std::string& AValue) { FTarget = AValue; }
    // The vertical field of view in degrees.
    float FOV() const { return FFOV; }
    void SetFOV(float AValue) { FFOV = AValue; }

    // The Id made an identifier; for an empty one "Camera_" and the object's
    // address as a signed decimal number, so that live definitions differ.
    std::string GetQualifiedComponentName() const override;

protected:
    int64_t InstanceSize() const override { return sizeof(TCameraDef); }

private:
    std::string FTarget;
    float FFOV = 45;
};

class TLightDef : public TTransformDef {
    KORVANE_CLASS(TLightDef, TTransformDef)

    // A white point light shining along +Y: intensity 100, constant
    // attenuation 1, scattering (0.1, 0.0034, 1, 0.84), spot cut-off 180.
    explicit TLightDef(TCustomDef* AOwner);

    TLightType LightType() const { return FLightType; }
    void SetLightType(TLightType AValue) { FLightType = AValue; }
    // The way the light shines (not normalised).
    const TPoint3D& Direction() const { return FDirection; }
    void SetDirection(const TPoint3D& AValue) { FDirection = AValue; }
    const TAlphaColorF& Diffuse() const { return FDiffuse; }
    void SetDiffuse(const TAlphaColorF& AValue) { FDiffuse = AValue; }
    const TAlphaColorF& Ambient() const { return FAmbient; }
    void SetAmbient(const TAlphaColorF& AValue) { FAmbient = AValue; }
    const TAlphaColorF& Specular() const { return FSpecular; }
    void SetSpecular(const TAlphaColorF& AValue) { FSpecular = AValue; }
    float Intensity() const { return FIntensity; }
    void SetIntensity(float AValue) { FIntensity = AValue; }
    float ConstantAttenuation() const { return FConstantAttenuation; }
    void SetConstantAttenuation(float AValue) { FConstantAttenuation = AValue; }
    float LinearAttenuation() const { return FLinearAttenuation; }
    void SetLinearAttenuation(float AValue) { FLinearAttenuation = AValue; }
    float QuadraticAttenuation() const { return FQuadraticAttenuation; }
    void SetQuadraticAttenuation(float AValue) { FQuadraticAttenuation = AValue; }
    float ScatteringIntensity() const { return FScatteringIntensity; }
    void SetScatteringIntensity(float AValue) { FScatteringIntensity = AValue; }
    float ScatteringExposure() const { return FScatteringExposure; }
    void SetScatteringExposure(float AValue) { FScatteringExposure = AValue; }
    float ScatteringDecay() const { return FScatteringDecay; }
    void SetScatteringDecay(float AValue) { FScatteringDecay = AValue; }
    float ScatteringDensity() const { return FScatteringDensity; }
    void SetScatteringDensity(float AValue) { FScatteringDensity = AValue; }

    // As the camera's, with "Light_".
    std::string GetQualifiedComponentName() const override;

protected:
    int64_t InstanceSize() const override { return sizeof(TLightDef); }

private:
    TLightType FLightType = TLightType::Point;
    TPoint3D FDirection{0, 1, 0};
    TAlphaColorF FDiffuse{1, 1, 1, 1};
    TAlphaColorF FAmbient{0, 0, 0, 1};
    TAlphaColorF FSpecular{1, 1, 1, 1};
    float FIntensity = 100;
    float FConstantAttenuation = 1;
    float FLinearAttenuation = 0;
    float FQuadraticAttenuation = 0;
    float FScatteringIntensity = 0.1f;
    float FScatteringExposure = 0.0034f;
    float FScatteringDecay = 1;
    float FScatteringDensity = 0.84f;
};

// The definition a camera or light makes for itself when it is created by
// AOwner: its definition owner is AOwner's mesh definition when AOwner is a
// mesh node, else nothing. The node frees the definition itself unless a
// model took it into its lists (AStandalone).
template <class TDef>
TDef* CreateOwnDefinition(TComponent* AOwner, bool& AStandalone);

// The mesh definition of AOwner when it is a mesh node that has one, else nil.
TTransformDef* OwnerMeshDefinition(TComponent* AOwner);

template <class TDef>
TDef* CreateOwnDefinition(TComponent* AOwner, bool& AStandalone)
{
    auto* def = new TDef(OwnerMeshDefinition(AOwner));
    AStandalone = def->GetModel() == nullptr;
    return def;
}

} // namespace korvane
