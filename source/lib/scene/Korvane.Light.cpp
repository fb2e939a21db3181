#include "Korvane.Light.h"

#include <algorithm>
#include <cmath>

#include "Korvane.SceneDefs.h"
#include "Korvane.Utils.Math.h"
#include "Korvane.Control.h"
#include "Platform.SysUtils.h"

namespace korvane {

namespace {

struct TRange {
    float Min, Max;
};
// By scattering index: intensity, exposure, decay, density.
constexpr TRange ScatteringRanges[4] = {{0, 10}, {0, 1}, {0, 2}, {0, 10}};
constexpr TRange IntensityRange{0, 10};

float Limit(float AValue, const TRange& ARange) { return std::min(ARange.Max, std::max(AValue, ARange.Min)); }

float& Component(TVector3D& V, int AIndex)
{
    switch (AIndex) {
    case 0: return V.X;
    case 1: return V.Y;
    case 2: return V.Z;
    default: return V.W;
    }
}

} // namespace

TClass TKorvaneLight::StaticClass()
{
    using T = TKorvaneLight;
    static const TClassInfo<T> info("Korvane.Light", [](auto& c) {
        c.Property("Ambient", &T::GetAmbient, &T::SetAmbient);
        c.Property("Specular", &T::GetSpecular, &T::SetSpecular);
        c.Property("Intensity", &T::Intensity, &T::SetIntensity, TValue::From(1.0f));
        c.Property("ConstantAttenuation", &T::ConstantAttenuation, &T::SetConstantAttenuation, TValue::From(1.0f));
        c.Property("LinearAttenuation", &T::LinearAttenuation, &T::SetLinearAttenuation, TValue::From(0.0f));
        c.Property("QuadraticAttenuation", &T::QuadraticAttenuation, &T::SetQuadraticAttenuation,
                   TValue::From(0.0f));
        const char* const names[4] = {"ScatteringIntensity", "ScatteringExposure", "ScatteringDecay",
                                      "ScatteringDensity"};
        const float defaults[4] = {0.1f, 0.0034f, 1.0f, 0.84f};
        for (int i = 0; i < 4; ++i)
            c.Property(
                names[i], [i](const T& l) { return l.GetScatteringValue(i); },
                [i](T& l, float v) { l.SetScatteringValue(i, v); }, TValue::From(defaults[i]));
    });
    return &info;
}

TKorvaneLight::TKorvaneLight(TComponent* AOwner) : TLight(AOwner)
{
    FSelfDef = CreateOwnDefinition<TLightDef>(AOwner, FDefIsStandalone);
    FDef = FSelfDef;
}

void TKorvaneLight::BeforeDestruction()
{
    FDef = nullptr;
    if (FDefIsStandalone && FSelfDef) FSelfDef->Free();
    FSelfDef = nullptr;
    TLight::BeforeDestruction();
}

void TKorvaneLight::SetIntensity(float Value) { FIntensity = Limit(Value, IntensityRange); }

float TKorvaneLight::GetScatteringValue(int Index) const
{
    if (Index < 0 || Index > 3) return 0;
    return Component(const_cast<TVector3D&>(FScattering), Index);
}

void TKorvaneLight::SetScatteringValue(int Index, float Value)
{
    if (Index < 0 || Index > 3) return;
    Component(FScattering, Index) = Limit(Value, ScatteringRanges[Index]);
}

TKorvaneShaderLight TKorvaneLight::GetLightDescriptionEx() const
{
    TKorvaneShaderLight light = TKorvaneShaderLight::Create(LightDescription());
    light.Ambient = FAmbient;
    light.Specular = FSpecular;
    light.ConstantAttenuation = FConstantAttenuation;
    light.LinearAttenuation = FLinearAttenuation;
    light.QuadraticAttenuation = FQuadraticAttenuation;
    light.Intensity = FIntensity;
    light.Scattering = FScattering;
    return light;
}

void TKorvaneLight::LoadFromDefinition(const TLightDef* ADef)
{
    if (!ADef) throw EArgumentException("TKorvaneLight.LoadFromDefinition(): no definition");
    FDef = const_cast<TLightDef*>(ADef);
    if (Name().empty()) SetName(ADef->GetQualifiedComponentName());
    SetLightType(ADef->LightType);
    SetColor(ADef->Diffuse.ToAlphaColor());
    SetAmbient(ADef->Ambient);
    SetSpecular(ADef->Specular);
    SetIntensity(ADef->Intensity);
    SetConstantAttenuation(ADef->ConstantAttenuation);
    SetLinearAttenuation(ADef->LinearAttenuation);
    SetQuadraticAttenuation(ADef->QuadraticAttenuation);
    SetScatteringValue(ScatteringIntensityIndex, ADef->ScatteringIntensity);
    SetScatteringValue(ScatteringExposureIndex, ADef->ScatteringExposure);
    SetScatteringValue(ScatteringDecayIndex, ADef->ScatteringDecay);
    SetScatteringValue(ScatteringDensityIndex, ADef->ScatteringDensity);
    Position().SetPoint(ExtractTranslation(ADef->Transform()));
    // The definition gives the way the light shines, not angles. The matrix
    // is built from the rotation itself: angles near a quarter turn about X
    // would lose the last bits of a direction close to the vertical.
    const TQuaternion3D rotation = RotationTowards(ADef->Direction);
    SetQuaternion(rotation);
    RotationAngle().SetPointNoChange(QuaternionToEulerAngles(rotation, RotationAngleOrder));
    korvane::RebuildLocalMatrix(this);
}

TQuaternion3D RotationTowards(const TPoint3D& ADirection)
{
    const TPoint3D z = ADirection.Normalize();
    if (z.LengthSq() == 0) return TQuaternion3D::Identity();
    // The node's axes are the rows of its rotation: +Z the direction, X and Y
    // completing a right-handed frame (a reference up along the direction
    // itself is swapped for +X).
    const TPoint3D reference = std::fabs(z.Y) > 0.999f ? TPoint3D(1, 0, 0) : TPoint3D(0, 1, 0);
    const TPoint3D x = reference.CrossProduct(z).Normalize();
    const TPoint3D y = z.CrossProduct(x);
    TMatrix3D m = TMatrix3D::Identity();
    const TPoint3D rows[3] = {x, y, z};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m.M[r][c] = rows[r][c];
    return TQuaternion3D::Create(m);
}

namespace units {

void LightInitialize()
{
    RegisterClass<TKorvaneLight>();
}

void LightFinalize()
{
    UnRegisterClass(TKorvaneLight::StaticClass());
}

} // namespace units

} // namespace korvane
