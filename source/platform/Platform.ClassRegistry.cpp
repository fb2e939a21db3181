#include "Platform.ClassRegistry.h"

#include <map>
#include <mutex>

namespace korvane {

// ---------------------------------------------------------------- TPropertyInfo

TPropertyInfo::TPropertyInfo(std::string Name, TTypeKind Kind, std::string TypeName, TGetter Getter, TSetter Setter,
                             TValue Default, TStored Stored)
    : FName(std::move(Name)), FKind(Kind), FTypeName(std::move(TypeName)), FGetter(std::move(Getter)),
      FSetter(std::move(Setter)), FDefault(std::move(Default)), FStored(std::move(Stored))
{
}

const TObject& TPropertyInfo::Check(const TObject* Instance) const
{
    if (!Instance) throw EPropertyError(Format("Property %s read or written without an object", FName));
    if (FOwnerClass && !Instance->InheritsFrom(FOwnerClass))
        throw EPropertyError(
            Format("Property %s of %s does not apply to a %s", FName, FOwnerClass->ClassName(), Instance->ClassName()));
    return *Instance;
}

TValue TPropertyInfo::GetValue(const TObject* Instance) const
{
    return FGetter(Check(Instance));
}

void TPropertyInfo::SetValue(TObject* Instance, const TValue& Value) const
{
    Check(Instance);
    if (!FSetter) throw EPropertyError(Format("Property %s is read-only", FName));
    FSetter(*Instance, Value);
}

bool TPropertyInfo::IsStored(const TObject* Instance) const
{
    return !FStored || FStored(Check(Instance));
}

bool TPropertyInfo::IsDefault(const TObject* Instance) const
{
    return !FDefault.IsEmpty() && GetValue(Instance) == FDefault;
}

// ---------------------------------------------------------------- TMetaClass

TMetaClass::TMetaClass(std::string AClassName, std::string AUnitName, TClass AParent)
    : FClassName(std::move(AClassName)), FUnitName(std::move(AUnitName)), FParent(AParent)
{
}

std::string TMetaClass::QualifiedClassName() const
{
    return FUnitName.empty() ? FClassName : FUnitName + "." + FClassName;
}

bool TMetaClass::InheritsFrom(TClass AClass) const
{
    for (TClass c = this; c; c = c->FParent)
        if (c == AClass) return true;
    return false;
}

void TMetaClass::CannotCreate() const
{
    throw EInvalidOperation(Format("Cannot create an instance of %s", FClassName));
}

TObject* TMetaClass::CreateInstance() const
{
    if (FCreateInstance) return FCreateInstance();
    if (FCreateComponent) return FCreateComponent(nullptr);
    CannotCreate();
}

TComponent* TMetaClass::CreateComponent(TComponent* AOwner) const
{
    if (!FCreateComponent) CannotCreate();
    return FCreateComponent(AOwner);
}

TCollectionItem* TMetaClass::CreateCollectionItem(TCollection* ACollection) const
{
    if (!FCreateItem) CannotCreate();
    return FCreateItem(ACollection);
}

void TMetaClass::AddProperty(TPropertyInfo Info)
{
    Info.FOwnerClass = this;
    for (auto& p : FProperties)
        if (SameText(p.Name(), Info.Name())) {
            p = std::move(Info);
            return;
        }
    FProperties.push_back(std::move(Info));
}

std::vector<const TPropertyInfo*> TMetaClass::Properties() const
{
    std::vector<const TPropertyInfo*> result;
    if (FParent) result = FParent->Properties();
    for (const auto& p : FProperties) {
        bool replaced = false;
        for (auto& r : result)
            if (SameText(r->Name(), p.Name())) {
                r = &p;
                replaced = true;
                break;
            }
        if (!replaced) result.push_back(&p);
    }
    return result;
}

const TPropertyInfo* TMetaClass::FindProperty(std::string_view Name) const
{
    for (TClass c = this; c; c = c->FParent)
        for (const auto& p : c->FProperties)
            if (SameText(p.Name(), Name)) return &p;
    return nullptr;
}

std::vector<const TEventInfo*> TMetaClass::Events() const
{
    std::vector<TClass> chain;
    for (TClass c = this; c; c = c->FParent) chain.push_back(c);
    std::vector<const TEventInfo*> result;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        for (const auto& e : (*it)->FEvents) result.push_back(&e);
    return result;
}

const TEventInfo* TMetaClass::FindEvent(std::string_view Name) const
{
    for (TClass c = this; c; c = c->FParent)
        for (const auto& e : c->FEvents)
            if (SameText(e.Name, Name)) return &e;
    return nullptr;
}

const TMethodInfo* TMetaClass::FindMethod(std::string_view Name) const
{
    for (TClass c = this; c; c = c->FParent)
        for (const auto& m : c->FMethods)
            if (SameText(m.Name, Name)) return &m;
    return nullptr;
}

uint64_t TPropertyInfo::GetSetBits(const TObject* Instance) const
{
    if (!FSetBits) throw EPropertyError(Format("Property %s is not a set", FName));
    return FSetBits(Check(Instance));
}

void TPropertyInfo::SetOrdinal(TObject* Instance, int64_t AOrdinal) const
{
    if (!FSetOrdinal) throw EPropertyError(Format("Property %s takes no ordinal", FName));
    Check(Instance);
    FSetOrdinal(*Instance, AOrdinal);
}

// ---------------------------------------------------------------- the registry

namespace {

struct TRegistry {
    std::mutex Lock;
    std::map<std::string, TClass> ByQualifiedName; // keys upper case
    std::map<std::string, TClass> ByShortName;
};

TRegistry& Registry()
{
    static TRegistry registry;
    return registry;
}

} // namespace

void RegisterClass(TClass AClass)
{
    if (!AClass) throw EArgumentException("RegisterClass: no class given");
    auto& r = Registry();
    std::lock_guard lock(r.Lock);
    const std::string qualified = UpperCase(AClass->QualifiedClassName());
    const std::string shortName = UpperCase(AClass->ClassName());
    auto q = r.ByQualifiedName.find(qualified);
    auto s = r.ByShortName.find(shortName);
    if (q != r.ByQualifiedName.end() && q->second == AClass) return;
    if (q != r.ByQualifiedName.end() || s != r.ByShortName.end())
        throw EFilerError(Format("A class named %s already exists", AClass->ClassName()));
    r.ByQualifiedName.emplace(qualified, AClass);
    r.ByShortName.emplace(shortName, AClass);
}

void RegisterClasses(std::initializer_list<TClass> AClasses)
{
    for (TClass c : AClasses) RegisterClass(c);
}

void UnRegisterClass(TClass AClass)
{
    if (!AClass) return;
    auto& r = Registry();
    std::lock_guard lock(r.Lock);
    auto q = r.ByQualifiedName.find(UpperCase(AClass->QualifiedClassName()));
    if (q != r.ByQualifiedName.end() && q->second == AClass) r.ByQualifiedName.erase(q);
    auto s = r.ByShortName.find(UpperCase(AClass->ClassName()));
    if (s != r.ByShortName.end() && s->second == AClass) r.ByShortName.erase(s);
}

TClass GetClass(std::string_view AClassName)
{
    auto& r = Registry();
    const std::string key = UpperCase(AClassName);
    std::lock_guard lock(r.Lock);
    if (auto q = r.ByQualifiedName.find(key); q != r.ByQualifiedName.end()) return q->second;
    if (auto s = r.ByShortName.find(key); s != r.ByShortName.end()) return s->second;
    return nullptr;
}

TClass FindClass(std::string_view AClassName)
{
    TClass c = GetClass(AClassName);
    if (!c) throw EClassNotFound(Format("Class %s not found", AClassName));
    return c;
}

// ---------------------------------------------------------------- the platform's own classes

TClass TObject::StaticClass()
{
    static const TClassInfo<TObject> info("Platform.Classes");
    return &info;
}

KORVANE_IMPLEMENT_CLASS(TPersistent, "Platform.Classes")

TClass TComponent::StaticClass()
{
    static const TClassInfo<TComponent> info("Platform.Classes", [](auto& c) {
        c.Property("Name", &TComponent::Name, &TComponent::SetName);
        c.Property("Tag", &TComponent::Tag, &TComponent::SetTag, TValue::From<intptr_t>(0));
    });
    return &info;
}

KORVANE_IMPLEMENT_CLASS(TCollectionItem, "Platform.Classes")
KORVANE_IMPLEMENT_CLASS(TCollection, "Platform.Classes")
KORVANE_IMPLEMENT_CLASS(TOwnedCollection, "Platform.Classes")

} // namespace korvane
