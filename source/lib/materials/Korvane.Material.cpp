#include "Korvane.Material.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "Korvane.Material.Blinn.h"
#include "Korvane.Material.BumpMap.h"
#include "Korvane.Material.Lambert.h"
#include "Korvane.Material.Layered.h"
#include "Korvane.Material.NormalMap.h"
#include "Korvane.Material.PBR.h"
#include "Korvane.Material.Phong.h"
#include "Korvane.Material.VertexColor.h"

namespace korvane {

namespace {

using TChannel = TColorChannelDef;

// The texture's picture for the duration of one assignment: the source's
// bitmap setters copy it into their pool entries, and a copy the texture
// handed out is freed with the instance.
TTextureBitmapInstance Picture(TMaterialDef* ADef, TChannel AChannel)
{
    TTextureDef* texture = ADef->GetTexture(AChannel);
    return texture ? texture->GetAssetBitmapInstance(false) : TTextureBitmapInstance();
}

template <class T>
T* New(TComponent* AOwner)
{
    return TKorvaneDefaultMaterialSource::Create<T>(AOwner);
}

// The values every kind copies, emissive colour optional.
void Common(TKorvaneDefaultMaterialSource* S, const TMaterialDef* D, bool AEmissive)
{
    S->SetUseColorClipping(D->UseClipping);
    S->SetClippingColorF(D->Clipping);
    S->SetUseAlphaCutoff(D->UseAlphaCutoff);
    S->SetAlphaCutoff(D->AlphaCutoff);
    S->SetTonemapping(D->Tonemapping);
    S->SetDiffuseF(D->Diffuse);
    S->SetAmbientF(D->Ambient);
    if (AEmissive) S->SetEmissiveF(D->Emissive);
    S->SetSpecularF(D->Specular);
    S->SetShininess(TKorvaneMaterial::ShininessOf(D->SpecPow));
    S->SetBrightness(D->Brightness);
    S->SetReflectionPower(D->ReflectionPower);
    S->SetReflections(D->UseReflection);
    S->SetRefractionPower(D->RefractionPower);
    S->SetRefractions(D->UseRefraction);
}

// Texture 0 from the diffuse texture, or texturing off without one.
void Texture0(TKorvaneDefaultMaterialSource* S, TMaterialDef* D)
{
    TTextureBitmapInstance picture = Picture(D, TChannel::Diffuse);
    S->SetUseTexturing(bool(picture));
    S->SetUseTexture0(bool(picture));
    if (!picture) return;
    S->SetTexture(picture.Bitmap());
    S->UpdateDefaultBitmaps();
}

TKorvaneDefaultMaterialSource* Lit(TKorvaneDefaultMaterialSource* S, TMaterialDef* D)
{
    S->SetTagObject(D);
    S->SetUseLighting(true);
    Common(S, D, true);
    Texture0(S, D);
    return S;
}

TKorvaneDefaultMaterialSource* NormalMapped(TKorvaneNormalMapMaterialSource* S, TMaterialDef* D, bool AEmissive)
{
    S->SetTagObject(D);
    S->SetUseTexturing(true);
    S->SetUseLighting(true);
    Common(S, D, AEmissive);
    if (TTextureBitmapInstance picture = Picture(D, TChannel::Diffuse)) {
        S->SetUseTexture0(true);
        S->SetTexture(picture.Bitmap());
    } else if (AEmissive) {
        S->SetUseTexturing(false); // the bump map switches texturing off, the normal map texture 0
    } else {
        S->SetUseTexture0(false);
    }
    if (TTextureBitmapInstance picture = Picture(D, TChannel::Normal)) S->SetNormalMap(picture.Bitmap());
    if (auto* bump = dynamic_cast<TKorvaneBumpMapMaterialSource*>(S))
        if (TTextureBitmapInstance picture = Picture(D, TChannel::Specular)) bump->SetSpecularMap(picture.Bitmap());
    S->UpdateDefaultBitmaps();
    return S;
}

TKorvaneDefaultMaterialSource* PBR(TKorvanePBRMaterialSource* S, TMaterialDef* D)
{
    S->SetTagObject(D);
    S->SetUseTexturing(true);
    S->SetUseTexture0(true);
    S->SetUseLighting(D->UseLighting);
    S->SetUseParallaxOcclusion(false);
    S->SetNormalIntensity(1);
    Common(S, D, true);
    S->SetMetallicBias(D->Metallic);
    S->SetRoughnessBias(D->Roughness);
    S->SetAOBias(D->AO);

    // Each map: its switch follows the texture's presence, its image the texture.
    auto map = [&](TChannel AChannel, void (TKorvaneDefaultMaterialSource::*ASwitch)(bool),
                   auto ASet) {
        TTextureBitmapInstance picture = Picture(D, AChannel);
        if (ASwitch) (S->*ASwitch)(bool(picture));
        if (picture) ASet(picture.Bitmap());
    };
    using B = TKorvaneDefaultMaterialSource;
    map(TChannel::Diffuse, &B::SetUsePBRAlbedoTexture, [&](TBitmap* ABitmap) { S->SetTexture(ABitmap); });
    map(TChannel::Normal, nullptr, [&](TBitmap* ABitmap) { S->SetNormalMap(ABitmap); });
    map(TChannel::Metalness, &B::SetUsePBRMetallicTexture, [&](TBitmap* ABitmap) { S->SetMetalnessTexture(ABitmap); });
    map(TChannel::Roughness, &B::SetUsePBRRoughnessTexture,
        [&](TBitmap* ABitmap) { S->SetRoughnessTexture(ABitmap); });
    map(TChannel::AO, &B::SetUsePBRAOTexture, [&](TBitmap* ABitmap) { S->SetAmbientOcclusionTexture(ABitmap); });
    map(TChannel::Emissive, &B::SetUsePBREmissiveTexture, [&](TBitmap* ABitmap) {
        S->SetEmissiveTexture(ABitmap);
        S->SetEmissiveF(TAlphaColorF(1, 1, 1, 1));
    });
    map(TChannel::Specular, &B::SetUsePBRSpecularTexture, [&](TBitmap* ABitmap) { S->SetSpecularMap(ABitmap); });
    map(TChannel::Displacement, nullptr, [&](TBitmap* ABitmap) { S->SetDisplacementMap(ABitmap); });
    S->UpdateDefaultBitmaps();
    return S;
}

TKorvaneDefaultMaterialSource* Custom(TKorvaneDefaultMaterialSource* S, TMaterialDef* D)
{
    S->SetTagObject(D);
    S->SetShadingModel(D->ShadingModel);
    S->SetUseTexturing(D->UseTexturing);
    S->SetUseTexture0(D->UseTexture0);
    S->SetUseLighting(D->UseLighting);
    S->SetUseVertexColor(D->UseVertexColor);
    S->SetUseSpecular(D->UseSpecular);
    Common(S, D, true);
    if (TTextureBitmapInstance picture = Picture(D, TChannel::Diffuse)) {
        S->SetUseTexturing(true);
        S->SetUseTexture0(true);
        S->SetTexture(picture.Bitmap());
        S->UpdateDefaultBitmaps();
    }
    return S;
}

// Colour-only kinds: no texturing, the definition recorded after the values.
TKorvaneDefaultMaterialSource* Untextured(TKorvaneDefaultMaterialSource* S, TMaterialDef* D, bool AVertexColor)
{
    S->SetUseTexturing(false);
    S->SetUseTexture0(false);
    S->SetUseVertexColor(AVertexColor);
    S->SetUseLighting(true);
    Common(S, D, true);
    S->SetTagObject(D);
    return S;
}

// Kind mkDefault and any unknown kind: a Lambert source, the emissive colour
// copied only without a diffuse texture.
TKorvaneDefaultMaterialSource* Fallback(TKorvaneDefaultMaterialSource* S, TMaterialDef* D)
{
    S->SetTagObject(D);
    TTextureBitmapInstance picture = Picture(D, TChannel::Diffuse);
    S->SetUseTexturing(bool(picture));
    S->SetUseTexture0(bool(picture));
    S->SetUseLighting(true);
    S->SetUseVertexColor(false);
    Common(S, D, !picture);
    if (picture) S->SetTexture(picture.Bitmap());
    return S;
}

// Depth first over the owned components, ARoot itself not tested.
TMaterialSource* FindMadeFor(TComponent* ARoot, const TMaterialDef* ADef)
{
    for (int i = 0; i < ARoot->ComponentCount(); ++i) {
        TComponent* component = ARoot->Components(i);
        if (auto* source = dynamic_cast<TMaterialSource*>(component); source && source->TagObject() == ADef)
            return source;
        if (TMaterialSource* found = FindMadeFor(component, ADef)) return found;
    }
    return nullptr;
}

} // namespace

float TKorvaneMaterial::ShininessOf(float ASpecPow)
{
    const double power = ASpecPow;
    return float(std::ceil(power < 1.0 ? power * 100.0 : power));
}

TMaterialSource* TKorvaneMaterial::CreateMaterial(TComponent* AOwner, TModelDef* AModel, const TMaterialRefDef* ADef)
{
    if (!AModel || !ADef) return nullptr;
    TMaterialDef* definition = ADef->Reference();
    if (definition) {
        if (AOwner)
            if (TMaterialSource* made = FindMadeFor(AOwner, definition)) return made;
    } else {
        auto find = ModelDefServices().FindMaterialById;
        definition = find ? find(AModel, ADef->Id()) : nullptr;
        if (!definition) return nullptr;
    }
    return CreateMaterial(AOwner, definition);
}

TMaterialSource* TKorvaneMaterial::CreateMaterial(TComponent* AOwner, TMaterialDef* ADef)
{
    std::vector<const TMaterialDef*> layers;
    return Make(AOwner, ADef, layers);
}

TMaterialSource* TKorvaneMaterial::Make(TComponent* AOwner, TMaterialDef* ADef,
                                        std::vector<const TMaterialDef*>& ALayers)
{
    if (!ADef) return nullptr;
    switch (ADef->Kind) {
    case TMaterialDefKind::mkColor:
        return Untextured(New<TKorvaneLambertMaterialSource>(AOwner), ADef, false);
    case TMaterialDefKind::mkVertexColor:
        return Untextured(New<TKorvaneVertexColorMaterialSource>(AOwner), ADef, true);
    case TMaterialDefKind::mkLambert: return Lit(New<TKorvaneLambertMaterialSource>(AOwner), ADef);
    case TMaterialDefKind::mkPhong: return Lit(New<TKorvanePhongMaterialSource>(AOwner), ADef);
    case TMaterialDefKind::mkBlinnPhong: return Lit(New<TKorvaneBlinnMaterialSource>(AOwner), ADef);
    case TMaterialDefKind::mkNormalMap:
        return NormalMapped(New<TKorvaneNormalMapMaterialSource>(AOwner), ADef, false);
    case TMaterialDefKind::mkBumpMap: return NormalMapped(New<TKorvaneBumpMapMaterialSource>(AOwner), ADef, true);
    case TMaterialDefKind::mkCustom: return Custom(New<TKorvaneDefaultMaterialSource>(AOwner), ADef);
    case TMaterialDefKind::mkPBR: return PBR(New<TKorvanePBRMaterialSource>(AOwner), ADef);
    case TMaterialDefKind::mkLayered: {
        // Only a definition built in code can hold itself among its layers
        // (every sub-material read from JSON is a new object): refuse it rather
        // than recurse without end.
        if (std::find(ALayers.begin(), ALayers.end(), ADef) != ALayers.end())
            throw EInvalidOperation(Format("layered material \"%s\" contains itself among its layers", ADef->Id()));
        auto* source = new TKorvaneLayeredMaterialSource(AOwner);
        source->SetTagObject(ADef);
        ALayers.push_back(ADef);
        const std::vector<TMaterialDef*>* subs = ADef->LayeredMaterials();
        const int count = subs ? static_cast<int>(subs->size()) : 0;
        for (int i = 0; i < count; ++i) {
            TMaterialDef* sub = ADef->GetLayeredMaterialByIndex(i);
            TKorvaneLayeredMaterialItem* item = source->AddLayer(sub ? sub->Id() : std::string(), nullptr);
            item->SetMaterial(Make(AOwner, sub, ALayers));
        }
        ALayers.pop_back();
        return source;
    }
    default: return Fallback(New<TKorvaneLambertMaterialSource>(AOwner), ADef);
    }
}

} // namespace korvane
