#include "Korvane.Control.h"

#include <cctype>
#include <cmath>
#include <limits>

#include "Korvane.Context.Types.h"
#include "Korvane.Context.h"
#include "Korvane.DefTypes.h"
#include "Korvane.Utils.Geometry.h"
#include "Korvane.Utils.Math.h"
#include "Platform.Log.h"
#include "Platform.SysUtils.h"
#include "Platform.Types3D.h"

namespace korvane {

TMeshNodeServices& MeshNodeServices()
{
    static TMeshNodeServices services;
    return services;
}

// ---------------------------------------------------------------- TKorvaneControl

TClass TKorvaneControl::StaticClass()
{
    static const TClassInfo<TKorvaneControl> info("Korvane.Control", [](auto& c) {
        c.Property("QualifiedName", &TKorvaneControl::QualifiedName, &TKorvaneControl::SetQualifiedName,
                   TValue::From(std::string()));
    });
    return &info;
}

TKorvaneControl::TKorvaneControl(TComponent* AOwner) : TControl3D(AOwner)
{
    SetOpaque(true);
}

void TKorvaneControl::SetName(const std::string& Value)
{
    auto acceptable = [this](const std::string& AName) {
        if (AName.empty()) return true;
        return IsUniqueGlobalComponentName(AName) && !(Owner() && Owner()->FindComponent(AName));
    };
    if (acceptable(Value)) {
        TControl3D::SetName(Value);
        return;
    }
    std::string prefix = ClassName();
    if (!prefix.empty() && prefix[0] == 'T') prefix.erase(0, 1);
    for (int attempt = 0; attempt < 11; ++attempt) {
        std::string digits;
        for (char ch : GUIDToString(CreateGUID()))
            if (ch != '{' && ch != '}' && ch != '-') digits += char(std::tolower(static_cast<unsigned char>(ch)));
        const std::string candidate = prefix + "_" + digits;
        if (acceptable(candidate)) {
            TControl3D::SetName(candidate);
            return;
        }
    }
}

void TKorvaneControl::SetQualifiedName(const std::string& Value)
{
    const std::string previous = FQualifiedName;
    FQualifiedName = Value;
    TKorvaneControl* parent = ParentNode();
    if (!parent) return;
    // Raises when the key is taken, by this node too: the same name twice is refused.
    if (!Value.empty()) parent->AddControl(Value, this);
    auto it = parent->FControls.find(previous);
    if (!previous.empty() && previous != Value && it != parent->FControls.end() && it->second == this)
        parent->RemoveControl(previous);
}

void TKorvaneControl::SetParent(TTreeObject* Value)
{
    TControl3D::SetParent(Value);
    DoUpdateParent(Value);
}

void TKorvaneControl::ParentChanged(TTreeObject* AOldParent)
{
    TControl3D::ParentChanged(AOldParent);
    if (auto* old = dynamic_cast<TKorvaneControl*>(AOldParent)) old->RemoveControl(this);
    TKorvaneControl* parent = ParentNode();
    if (!parent || FQualifiedName.empty() || !parent->GetControlName(this).empty()) return;
    auto it = parent->FControls.find(FQualifiedName);
    if (it == parent->FControls.end()) parent->AddControl(FQualifiedName, this);
    else
        Log::d(Format("<WARNING> TKorvaneControl.SetParent - control \"%s\" already exists in %s, not registered",
                      FQualifiedName, parent->FQualifiedName));
}

void TKorvaneControl::Resize3D()
{
    DoUpdateParent(Parent());
}

void TKorvaneControl::SetFrustumCullingCheck(bool Value)
{
    FFrustumCullingCheck = Value;
}

void TKorvaneControl::DoUpdateParent(TTreeObject*) {}

void TKorvaneControl::LoadFromDefinition(TCustomDef*)
{
    throw EAbstractError("Abstract Error");
}

void TKorvaneControl::StoreToDefinition(TCustomDef*)
{
    throw EAbstractError("Abstract Error");
}

std::string TKorvaneControl::GetControlName(const TKorvaneControl* AControl) const
{
    for (const auto& [key, control] : FControls)
        if (control == AControl) return key;
    return std::string();
}

void TKorvaneControl::AddControl(const std::string& AName, TKorvaneControl* AControl)
{
    if (!AControl) throw EArgumentException("TKorvaneControl.AddControl: control not assigned");
    if (FControls.find(AName) != FControls.end())
        throw Exception(Format("control \"%s\" already exists in %s", AName, FQualifiedName));
    FControls.emplace(AName, AControl);
    // A freed control leaves the registry (Notification).
    FreeNotification(AControl);
}

void TKorvaneControl::RemoveControl(const std::string& AName)
{
    auto it = FControls.find(AName);
    if (it != FControls.end()) FControls.erase(it);
}

void TKorvaneControl::RemoveControl(const TKorvaneControl* AControl)
{
    std::vector<std::string> keys;
    for (const auto& [key, control] : FControls)
        if (control == AControl) keys.push_back(key);
    for (const std::string& key : keys) RemoveControl(key);
}

void TKorvaneControl::MoveControlTo(TKorvaneControl* AControl, TKorvaneControl* ANewOwner)
{
    const std::string name = GetControlName(AControl);
    if (!name.empty()) {
        RemoveControl(name);
        ANewOwner->AddControl(name, AControl);
    }
    ANewOwner->InsertComponent(AControl);
    AControl->SetParent(ANewOwner);
}

void TKorvaneControl::Notification(TComponent* AComponent, TOperation Operation)
{
    TControl3D::Notification(AComponent, Operation);
    if (Operation != opRemove || FControls.empty()) return;
    for (auto it = FControls.begin(); it != FControls.end();) {
        if (static_cast<TComponent*>(it->second) == AComponent) it = FControls.erase(it);
        else ++it;
    }
}

TComponent* TKorvaneControl::FindControlByDeepSearch(std::string_view AName) const
{
    if (AName.empty()) return nullptr;
    if (auto it = FControls.find(AName); it != FControls.end()) return it->second;
    for (const auto& entry : FControls)
        if (TComponent* found = entry.second->FindControlByDeepSearch(AName)) return found;
    return nullptr;
}

TComponent* TKorvaneControl::FindControlByDefDeepSearch(const TCustomDef* ADef) const
{
    if (!ADef) return nullptr;
    if (ADef == FDef) return const_cast<TKorvaneControl*>(this);
    for (const auto& entry : FControls)
        if (TComponent* found = entry.second->FindControlByDefDeepSearch(ADef)) return found;
    return nullptr;
}

void TKorvaneControl::FindControlsByDeepSearch(std::string_view AName, TComponentMatches* AResult) const
{
    if (AName.empty()) return;
    if (!AResult) throw Exception("result list not assigned");
    const auto referencedName = MeshNodeServices().GetReferencedName;
    for (const auto& [key, control] : FControls) {
        std::string referenced;
        int match = -1; // -1 none, 0 by key, 1 by referenced name
        if (key == AName) match = 0;
        else if (referencedName && referencedName(control, referenced) && referenced == AName) match = 1;
        if (match >= 0 && !AResult->emplace(control, match == 1).second) throw EListError("Duplicates not allowed");
        control->FindControlsByDeepSearch(AName, AResult);
    }
}

TBoundingBox TKorvaneControl::GetBoundingBox() const
{
    return SizeBox();
}

TBoundingBox TKorvaneControl::GetAbsoluteBoundingBox() const
{
    return TransformedBoundingBox(TAABB::FromBoundingBox(GetBoundingBox()), AbsoluteMatrix());
}

TComponent* TKorvaneControl::Duplicate(TComponent* AOwner, bool AAsProxy)
{
    if (!AAsProxy) throw EInvalidOperation("TKorvaneControl.Duplicate: deep duplication is not supported");
    return InitializeObject(new TProxyObject(AOwner), [this](TProxyObject* AProxy) { AProxy->SetSourceObject(this); });
}

void TKorvaneControl::DestroyComponentsButIgnoreClass(std::initializer_list<TClass> AClasses)
{
    int i = 0;
    while (i < ComponentCount()) {
        TComponent* c = Components(i);
        bool keep = false;
        for (TClass cls : AClasses) keep = keep || c->InheritsFrom(cls);
        if (keep) ++i;
        else c->Free();
    }
}

void TKorvaneControl::Render()
{
    if (!Opaque() && ZWrite()) {
        const TContextStates states{TContextState::csZTestOn, TContextState::csZWriteOff, TContextState::csAllFace};
        if (TContext3D* ctx = Context()) {
            if (auto* korvane = dynamic_cast<TKorvaneContext*>(ctx)) korvane->SetContextStates(states);
            else
                for (int s = 0; s < ContextStateCount; ++s)
                    if (states.Contains(TContextState(s))) ctx->SetContextState(TContextState(s));
        }
    }
    TControl3D::Render();
}

void TKorvaneControl::RenderChildren() {}

// ---------------------------------------------------------------- searches

namespace {

// The first component of the depth-first, pre-order walk that Match accepts.
template <typename Match>
TComponent* DeepSearch(TComponent* AComp, const Match& AMatch)
{
    if (!AComp) return nullptr;
    if (AMatch(AComp)) return AComp;
    for (int i = 0; i < AComp->ComponentCount(); ++i)
        if (TComponent* found = DeepSearch(AComp->Components(i), AMatch)) return found;
    return nullptr;
}

void SetDesigningDeep(TComponent* AComp, bool AValue)
{
    if (AComp) AComp->SetDesigning(AValue, true);
}

} // namespace

TComponent* FindComponentDeepSearch(TComponent* AComp, std::string_view AName)
{
    return DeepSearch(AComp, [&](TComponent* c) { return c->Name() == AName; });
}

TComponent* FindComponentDeepSearchByClass(TComponent* AComp, TClass AClass)
{
    return DeepSearch(AComp, [&](TComponent* c) { return c->InheritsFrom(AClass); });
}

TComponent* FindComponentDeepSearchByFilter(TComponent* AComp, const TComponentSearchFunc& ACallback)
{
    if (!ACallback) return nullptr;
    return DeepSearch(AComp, ACallback);
}

void FindAllComponentsByClass(TComponent* AComp, TClass AClass, std::vector<TComponent*>& AList)
{
    DeepSearch(AComp, [&](TComponent* c) {
        if (c->InheritsFrom(AClass)) AList.push_back(c);
        return false;
    });
}

void LogComponentHierarchy(TComponent* AComp, std::string& AText, const std::string& AIndent)
{
    if (!AComp) return;
    AText += AIndent + Format("%s (%s)", AComp->Name(), AComp->ClassName()) + "\r\n";
    const std::string deeper = AIndent + AIndent;
    for (int i = 0; i < AComp->ComponentCount(); ++i) LogComponentHierarchy(AComp->Components(i), AText, deeper);
}

void EnableDesigning(TComponent* AComp)
{
    SetDesigningDeep(AComp, true);
}

void DisableDesigning(TComponent* AComp)
{
    SetDesigningDeep(AComp, false);
}

TTreeObject* FindComponentUpwards(TComponent* AObj, TClass AClass)
{
    if (!AObj || !AClass) return nullptr;
    auto* self = dynamic_cast<TTreeObject*>(AObj);
    TTreeObject* start = self ? self->Parent() : nullptr;
    if (!start) start = dynamic_cast<TTreeObject*>(AObj->Owner());
    for (TTreeObject* o = start; o; o = o->Parent())
        if (o->InheritsFrom(AClass)) return o;
    return nullptr;
}

TTreeObject* FindComponentUpwards(TComponent* AObj, std::string_view AClassName)
{
    TClass cls = GetClass(AClassName);
    return cls ? FindComponentUpwards(AObj, cls) : nullptr;
}

TTreeObject* FindViewport(TComponent* AObj)
{
    return FindComponentUpwards(AObj, "Korvane.Viewport.TKorvaneViewport");
}

TTreeObject* FindTopOwner(TComponent* AObj)
{
    auto* o = dynamic_cast<TTreeObject*>(AObj);
    if (!o || !o->Parent()) return nullptr;
    while (o->Parent()) o = o->Parent();
    return o;
}

void ClearRenderingList(TControl3D* AControl)
{
    if (AControl) AControl->ClearRenderingList();
}

TControl3D* RayCastObjectAtPoint(TControl3D* AControl, const TPointF& P, TVector3D& ARayPos, TVector3D& ARayDir,
                                 TPoint3D& AIntersection)
{
    if (!AControl) return nullptr;
    TControl3D* result = nullptr;
    const std::vector<TTreeObject*> children = AControl->ChildList();
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (auto* c = dynamic_cast<TControl3D*>(*it); c && c->Visible())
            if (TControl3D* hit = c->ObjectAtPoint(P)) result = hit;
    if (result) return result;
    return AControl->HitAtPoint(P, ARayPos, ARayDir, AIntersection) ? AControl : nullptr;
}

// ---------------------------------------------------------------- local matrices

void DecomposeMatrix(const TMatrix3D& AMatrix, TPoint3D& APosition, TPoint3D& AScale, TQuaternion3D& ARotation,
                     TPoint3D& AAngles)
{
    APosition = ExtractTranslation(AMatrix);
    AScale = ExtractScale(AMatrix);
    ARotation = ExtractRotation(AMatrix);
    AAngles = QuaternionToEulerAngles(ARotation, RotationAngleOrder);
}

void RebuildLocalMatrix(TControl3D* AControl)
{
    if (!AControl || AControl->Destroying()) return;
    AControl->RebuildLocalMatrix();
}

void ApplyLocalMatrix(TControl3D* AControl, const TMatrix3D& AMatrix, bool APosition, bool AScale, bool ARotation,
                      bool ARepaint)
{
    if (!AControl || AControl->Destroying()) return;
    TPoint3D position, scale, angles;
    TQuaternion3D rotation;
    DecomposeMatrix(AMatrix, position, scale, rotation, angles);
    AControl->SetLocalMatrix(AMatrix);
    if (APosition) AControl->Position().SetPointNoChange(position);
    if (AScale) AControl->Scale().SetPointNoChange(scale);
    AControl->SetQuaternion(ARotation ? rotation : TQuaternion3D::Identity());
    AControl->RotationAngle().SetPointNoChange(ARotation ? angles : TPoint3D());
    AControl->RecalcAbsolute();
    if (ARepaint) AControl->Repaint();
}

// ---------------------------------------------------------------- record text

namespace {

std::string JoinFields(std::initializer_list<std::string> AParts)
{
    std::string s = "(";
    bool first = true;
    for (const std::string& p : AParts) {
        if (!first) s += ',';
        s += p;
        first = false;
    }
    return s + ")";
}

std::string FloatField(float AValue)
{
    return FloatToStr(double(AValue));
}

// The components of the text: the pieces between the separators ",", "(" and
// ")", the piece before the first separator dropped.
std::vector<std::string_view> FieldTokens(std::string_view AText)
{
    std::vector<std::string_view> tokens;
    size_t start = 0;
    bool first = true;
    for (size_t i = 0; i <= AText.size(); ++i) {
        if (i < AText.size() && AText[i] != ',' && AText[i] != '(' && AText[i] != ')') continue;
        if (!first) tokens.push_back(AText.substr(start, i - start));
        first = false;
        start = i + 1;
    }
    return tokens;
}

// Parses the components into the targets in order; stops at the first that
// does not parse.
template <typename T, typename Parse>
void ReadFields(std::string_view AText, std::initializer_list<T*> ATargets, Parse AParse)
{
    const std::vector<std::string_view> tokens = FieldTokens(AText);
    size_t i = 0;
    for (T* target : ATargets) {
        if (i >= tokens.size() || !AParse(Trim(tokens[i]), *target)) return;
        ++i;
    }
}

bool ParseFloat(const std::string& AText, float& AValue)
{
    double d;
    if (!TryStrToFloat(AText, d)) return false;
    AValue = float(d);
    return true;
}

bool ParseInt(const std::string& AText, int32_t& AValue)
{
    int v;
    if (!TryStrToInt(AText, v)) return false;
    AValue = v;
    return true;
}

// A float rounded to the nearest integer, halves to even.
bool ParseRoundedInt(const std::string& AText, int32_t& AValue)
{
    double d;
    if (!TryStrToFloat(AText, d)) return false;
    const double r = std::nearbyint(d);
    if (!(r >= double(std::numeric_limits<int32_t>::min()) && r <= double(std::numeric_limits<int32_t>::max())))
        return false;
    AValue = int32_t(r);
    return true;
}

} // namespace

std::string WritePointField(const TPoint& AValue)
{
    return JoinFields({IntToStr(AValue.X), IntToStr(AValue.Y)});
}

void ReadPointField(std::string_view AText, TPoint& AValue)
{
    ReadFields<int32_t>(AText, {&AValue.X, &AValue.Y}, ParseInt);
}

std::string WritePointFField(const TPointF& AValue)
{
    return JoinFields({FloatField(AValue.X), FloatField(AValue.Y)});
}

void ReadPointFField(std::string_view AText, TPointF& AValue)
{
    ReadFields<float>(AText, {&AValue.X, &AValue.Y}, ParseFloat);
}

std::string WritePoint3DField(const TPoint3D& AValue)
{
    return JoinFields({FloatField(AValue.X), FloatField(AValue.Y), FloatField(AValue.Z)});
}

void ReadPoint3DField(std::string_view AText, TPoint3D& AValue)
{
    ReadFields<float>(AText, {&AValue.X, &AValue.Y, &AValue.Z}, ParseFloat);
}

std::string WriteSize3DField(const TSize3D& AValue)
{
    return JoinFields({FloatToStr(AValue.Width), FloatToStr(AValue.Height), FloatToStr(AValue.Depth)});
}

void ReadSize3DField(std::string_view AText, TSize3D& AValue)
{
    ReadFields<int32_t>(AText, {&AValue.Width, &AValue.Height, &AValue.Depth}, ParseRoundedInt);
}

std::string WriteVector3DField(const TVector3D& AValue)
{
    return JoinFields({FloatField(AValue.X), FloatField(AValue.Y), FloatField(AValue.Z), FloatField(AValue.W)});
}

void ReadVector3DField(std::string_view AText, TVector3D& AValue)
{
    ReadFields<float>(AText, {&AValue.X, &AValue.Y, &AValue.Z, &AValue.W}, ParseFloat);
}

std::string WriteQuaternionField(const TQuaternion3D& AValue)
{
    return JoinFields({FloatField(AValue.ImagPart.X), FloatField(AValue.ImagPart.Y), FloatField(AValue.ImagPart.Z),
                       FloatField(AValue.RealPart)});
}

void ReadQuaternionField(std::string_view AText, TQuaternion3D& AValue)
{
    ReadFields<float>(AText, {&AValue.ImagPart.X, &AValue.ImagPart.Y, &AValue.ImagPart.Z, &AValue.RealPart},
                      ParseFloat);
}

std::string WriteAlphaColorFField(const TAlphaColorF& AValue)
{
    return JoinFields({FloatField(AValue.R), FloatField(AValue.G), FloatField(AValue.B), FloatField(AValue.A)});
}

void ReadAlphaColorFField(std::string_view AText, TAlphaColorF& AValue)
{
    ReadFields<float>(AText, {&AValue.R, &AValue.G, &AValue.B, &AValue.A}, ParseFloat);
}

std::string WritePlaneFField(const TPlaneF& AValue)
{
    return JoinFields({FloatField(AValue.NX), FloatField(AValue.NY), FloatField(AValue.NZ), FloatField(AValue.D)});
}

void ReadPlaneFField(std::string_view AText, TPlaneF& AValue)
{
    ReadFields<float>(AText, {&AValue.NX, &AValue.NY, &AValue.NZ, &AValue.D}, ParseFloat);
}

// ---------------------------------------------------------------- start-up

namespace units {

void ControlInitialize()
{
    RegisterClass<TKorvaneControl>();
}

void ControlFinalize()
{
    UnRegisterClass(TKorvaneControl::StaticClass());
}

} // namespace units

} // namespace korvane
