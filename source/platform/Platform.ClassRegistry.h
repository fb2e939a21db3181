#pragma once
// Metaclasses and the class registry.
//
// Every class declared with KORVANE_CLASS has one metaclass object: its name,
// unit, parent metaclass, factory and property table. A class defines it once,
// in its unit's .cpp:
//
//   TClass TKorvaneLight::StaticClass()
//   {
//       static const TClassInfo<TKorvaneLight> info("Korvane.Light", [](auto& c) {
//           c.Property("Enabled", &TKorvaneLight::Enabled, &TKorvaneLight::SetEnabled, TValue::From(true));
//           c.Property("Kind", &TKorvaneLight::FKind);          // a field, read and written directly
//           c.Property("Count", &TKorvaneLight::Count);         // read-only
//       });
//       return &info;
//   }
//
// or, without properties, KORVANE_IMPLEMENT_CLASS(TKorvaneLight, "Korvane.Light").
// Classes with class functions derive their own metaclass from TMetaClass (or
// from another class's metaclass) and pass it as TClassInfo's second argument.
//
// RegisterClass makes a class known by name to FindClass/GetClass (form
// streaming, the definition model's "Type" names, asset classes): by its
// qualified name "Unit.TClassName" and by its short name, letter case ignored.

#include <any>
#include <functional>
#include <memory>
#include <span>
#include <typeindex>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "Platform.Classes.h"
#include "Platform.Rtti.h"

namespace korvane {

class EPropertyError : public Exception { using Exception::Exception; };

// The kind of a property's value type, as TValue::From would give it.
template <typename T>
constexpr TTypeKind TypeKindOf()
{
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, bool> || std::is_enum_v<U>) return tkEnumeration;
    else if constexpr (std::is_same_v<U, char> || std::is_convertible_v<const U&, std::string_view>) return tkString;
    else if constexpr (std::is_integral_v<U>) return sizeof(U) <= 4 ? tkInteger : tkInt64;
    else if constexpr (std::is_floating_point_v<U>) return tkFloat;
    else if constexpr (std::is_pointer_v<U> && std::is_base_of_v<TObject, std::remove_cv_t<std::remove_pointer_t<U>>>)
        return tkClass;
    else return tkRecord;
}

template <typename T>
std::string TypeNameOf()
{
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, bool>) return "Boolean";
    else if constexpr (std::is_same_v<U, char> || std::is_convertible_v<const U&, std::string_view>) return "string";
    else if constexpr (std::is_integral_v<U>) {
        if constexpr (sizeof(U) <= 4) return std::is_signed_v<U> ? "Integer" : "Cardinal";
        else return std::is_signed_v<U> ? "Int64" : "UInt64";
    } else if constexpr (std::is_same_v<U, float>) return "Single";
    else if constexpr (std::is_floating_point_v<U>) return "Double";
    else if constexpr (std::is_pointer_v<U>) return rtti_detail::ShortTypeName(typeid(std::remove_pointer_t<U>));
    else return rtti_detail::ShortTypeName(typeid(U));
}

// One published property: its name, value type, accessors, default and stored rule.
class TPropertyInfo {
public:
    using TGetter = std::function<TValue(const TObject& Instance)>;
    using TSetter = std::function<void(TObject& Instance, const TValue& Value)>;
    using TStored = std::function<bool(const TObject& Instance)>;

    TPropertyInfo(std::string Name, TTypeKind Kind, std::string TypeName, TGetter Getter, TSetter Setter,
                  TValue Default, TStored Stored);

    const std::string& Name() const { return FName; }
    TTypeKind Kind() const { return FKind; }
    const std::string& TypeName() const { return FTypeName; }
    bool IsReadOnly() const { return !FSetter; }
    // The default value; empty when the property has none.
    const TValue& Default() const { return FDefault; }
    // The value names of an enumeration or set property (empty for other types).
    std::span<const char* const> EnumNames() const { return FEnumNames; }
    // A set of enumeration values: written and read as its bits (one per ordinal).
    bool IsSet() const { return static_cast<bool>(FSetBits); }
    uint64_t GetSetBits(const TObject* Instance) const;
    // Sets an enumeration property by ordinal or a set property by its bits
    // (text forms name values without knowing their C++ type). Raises
    // EPropertyError for an ordinal outside the enumeration.
    void SetOrdinal(TObject* Instance, int64_t AOrdinal) const;

    // Raise EPropertyError for an instance of another class, EPropertyError
    // for writing a read-only property, EInvalidCast for a value of a wrong type.
    TValue GetValue(const TObject* Instance) const;
    void SetValue(TObject* Instance, const TValue& Value) const;
    // The stored rule (true when the class gave none).
    bool IsStored(const TObject* Instance) const;
    // True when the property has a default and the instance's value equals it.
    bool IsDefault(const TObject* Instance) const;

private:
    friend class TMetaClass;
    template <class, class>
    friend class TClassInfo;
    const TObject& Check(const TObject* Instance) const;

    std::span<const char* const> FEnumNames;
    std::function<uint64_t(const TObject&)> FSetBits;
    std::function<void(TObject&, int64_t)> FSetOrdinal;
    std::string FName;
    TTypeKind FKind;
    std::string FTypeName;
    TGetter FGetter;
    TSetter FSetter;
    TValue FDefault;
    TStored FStored;
    TClass FOwnerClass = nullptr;
};

// An event of a component: the handler and the name of the method it was bound
// to from a form resource (empty for a handler set in code). Assigning a
// callable sets the handler and forgets the method name.
template <class... Args>
class TEvent {
public:
    using THandler = std::function<void(Args...)>;
    TEvent() = default;
    template <class F>
        requires std::is_constructible_v<THandler, F>
    TEvent(F&& AHandler) : FHandler(std::forward<F>(AHandler))
    {
    }
    template <class F>
        requires std::is_constructible_v<THandler, F>
    TEvent& operator=(F&& AHandler)
    {
        FHandler = std::forward<F>(AHandler);
        FMethodName.clear();
        return *this;
    }
    explicit operator bool() const { return static_cast<bool>(FHandler); }
    void operator()(Args... AArgs) const
    {
        if (FHandler) FHandler(AArgs...);
    }
    void Bind(THandler AHandler, std::string AMethodName)
    {
        FHandler = std::move(AHandler);
        FMethodName = std::move(AMethodName);
    }
    const std::string& MethodName() const { return FMethodName; }
    // The handler as the callable type F it was made from; nullptr when it is
    // empty or of another type (so a component can tell its own handler).
    template <class F>
    const F* Target() const
    {
        return FHandler.template target<F>();
    }

private:
    THandler FHandler;
    std::string FMethodName;
};

// A published event of a class: streaming binds it to a method by name.
struct TEventInfo {
    std::string Name;
    std::type_index Signature = typeid(void);
    // Sets the handler from a bound method (a std::function of the signature in
    // a std::any) and the method's name.
    std::function<void(TObject& Instance, const std::any& Handler, const std::string& MethodName)> Bind;
    std::function<std::string(const TObject& Instance)> MethodName;
};

// A published method of a class (the event handlers of a form).
struct TMethodInfo {
    std::string Name;
    std::type_index Signature = typeid(void);
    // The method bound to an instance, as a std::function of its signature.
    std::function<std::any(TObject& Instance)> Bind;
};

class TMetaClass {
public:
    TMetaClass(std::string AClassName, std::string AUnitName, TClass AParent);
    TMetaClass(const TMetaClass&) = delete;
    TMetaClass& operator=(const TMetaClass&) = delete;
    virtual ~TMetaClass() = default;

    const std::string& ClassName() const { return FClassName; }
    const std::string& UnitName() const { return FUnitName; }
    // "Unit.TClassName", or the class name alone when the unit is unnamed.
    std::string QualifiedClassName() const;
    TClass ClassParent() const { return FParent; }
    // True for this class and every class derived from AClass.
    bool InheritsFrom(TClass AClass) const;

    // Factories; each raises EInvalidOperation "Cannot create an instance of
    // %s" when the class cannot be made that way (abstract, other constructor).
    virtual TObject* CreateInstance() const;
    virtual TComponent* CreateComponent(TComponent* AOwner) const;
    virtual TCollectionItem* CreateCollectionItem(TCollection* ACollection) const;

    // The properties this class declares itself, in declaration order.
    const std::vector<TPropertyInfo>& DeclaredProperties() const { return FProperties; }
    // Every property, the root class's first; a redeclared name replaces the inherited one in place.
    std::vector<const TPropertyInfo*> Properties() const;
    // The property of that name (letter case ignored), the class's own before inherited ones; nil when none.
    const TPropertyInfo* FindProperty(std::string_view Name) const;
    // Every event, the root class's first.
    std::vector<const TEventInfo*> Events() const;
    // Events and methods of that name (letter case ignored), inherited ones too; nil when none.
    const TEventInfo* FindEvent(std::string_view Name) const;
    const TMethodInfo* FindMethod(std::string_view Name) const;

protected:
    void AddProperty(TPropertyInfo Info);
    void AddEvent(TEventInfo Info) { FEvents.push_back(std::move(Info)); }
    void AddMethod(TMethodInfo Info) { FMethods.push_back(std::move(Info)); }
    std::function<TObject*()> FCreateInstance;
    std::function<TComponent*(TComponent*)> FCreateComponent;
    std::function<TCollectionItem*(TCollection*)> FCreateItem;

private:
    [[noreturn]] void CannotCreate() const;

    std::string FClassName;
    std::string FUnitName;
    TClass FParent;
    std::vector<TPropertyInfo> FProperties;
    std::vector<TEventInfo> FEvents;
    std::vector<TMethodInfo> FMethods;
};

namespace registry_detail {
template <class T>
struct IsSet : std::false_type {};
template <class E>
struct IsSet<TSet<E>> : std::true_type {
    using Element = E;
};

// An enumeration value from its ordinal, a set from its bits.
template <class V>
V FromOrdinal(int64_t AOrdinal)
{
    if constexpr (std::is_enum_v<V>) {
        if constexpr (TEnumNames<V>::Defined)
            if (AOrdinal < 0 || AOrdinal >= TEnumNames<V>::Count)
                throw EPropertyError(Format("Invalid property value %d", AOrdinal));
        return static_cast<V>(AOrdinal);
    } else {
        V result;
        for (int i = 0; i < 64; ++i)
            if (uint64_t(AOrdinal) & (uint64_t(1) << i)) result.Include(static_cast<typename IsSet<V>::Element>(i));
        return result;
    }
}
} // namespace registry_detail

// The metaclass of T (declared with KORVANE_CLASS). TMeta lets a class hierarchy
// use its own metaclass type with virtual class functions.
template <class T, class TMeta = TMetaClass>
class TClassInfo : public TMeta {
public:
    using TClassType = T;

    explicit TClassInfo(std::string AUnitName) : TClassInfo(std::move(AUnitName), [](TClassInfo&) {}) {}

    template <typename Describe>
    TClassInfo(std::string AUnitName, Describe&& Properties)
        : TMeta(T::StaticClassName(), std::move(AUnitName), ParentClass())
    {
        if constexpr (!std::is_abstract_v<T>) {
            if constexpr (std::is_constructible_v<T, TComponent*>)
                this->FCreateComponent = [](TComponent* AOwner) -> TComponent* { return new T(AOwner); };
            else if constexpr (std::is_constructible_v<T, TCollection*>)
                this->FCreateItem = [](TCollection* C) -> TCollectionItem* { return new T(C); };
            else if constexpr (std::is_default_constructible_v<T>)
                this->FCreateInstance = []() -> TObject* { return new T(); };
        }
        Properties(*this);
    }

    // Declares a property. Getter: a const member function, a field pointer or a
    // callable taking const T&. Setter: a member function, a field pointer, a
    // callable taking (T&, value), or nullptr for a read-only property.
    template <typename Getter, typename Setter = std::nullptr_t>
    TClassInfo& Property(std::string Name, Getter Get, Setter Set = nullptr, TValue Default = TValue(),
                         std::function<bool(const T&)> Stored = {})
    {
        using V = std::remove_cvref_t<std::invoke_result_t<Getter, const T&>>;
        TPropertyInfo::TGetter getter = [Get](const TObject& o) {
            return TValue::From<V>(std::invoke(Get, static_cast<const T&>(o)));
        };
        TPropertyInfo::TSetter setter;
        if constexpr (std::is_member_object_pointer_v<Setter>) {
            setter = [Set](TObject& o, const TValue& v) { std::invoke(Set, static_cast<T&>(o)) = v.AsType<V>(); };
        } else if constexpr (!std::is_same_v<Setter, std::nullptr_t>) {
            setter = [Set](TObject& o, const TValue& v) { std::invoke(Set, static_cast<T&>(o), v.AsType<V>()); };
        }
        TPropertyInfo::TStored stored;
        if (Stored) stored = [Stored](const TObject& o) { return Stored(static_cast<const T&>(o)); };
        TPropertyInfo info(std::move(Name), TypeKindOf<V>(), TypeNameOf<V>(), std::move(getter), std::move(setter),
                           std::move(Default), std::move(stored));
        if constexpr (std::is_enum_v<V>) {
            if constexpr (TEnumNames<V>::Defined) info.FEnumNames = TEnumNames<V>::Names;
        } else if constexpr (registry_detail::IsSet<V>::value) {
            using E = typename registry_detail::IsSet<V>::Element;
            if constexpr (TEnumNames<E>::Defined) info.FEnumNames = TEnumNames<E>::Names;
            info.FSetBits = [Get](const TObject& o) { return V(std::invoke(Get, static_cast<const T&>(o))).Bits(); };
        }
        if constexpr (std::is_enum_v<V> || registry_detail::IsSet<V>::value) {
            if (info.FSetter)
                info.FSetOrdinal = [setter = info.FSetter](TObject& o, int64_t ordinal) {
                    setter(o, TValue::From(registry_detail::FromOrdinal<V>(ordinal)));
                };
        }
        this->AddProperty(std::move(info));
        return *this;
    }

    // Declares an event: a TEvent<Args...> field.
    template <class... Args>
    TClassInfo& Event(std::string Name, TEvent<Args...> T::*Field)
    {
        TEventInfo info;
        info.Name = std::move(Name);
        info.Signature = typeid(void(Args...));
        info.Bind = [Field](TObject& o, const std::any& handler, const std::string& method) {
            (static_cast<T&>(o).*Field).Bind(std::any_cast<const std::function<void(Args...)>&>(handler), method);
        };
        info.MethodName = [Field](const TObject& o) { return (static_cast<const T&>(o).*Field).MethodName(); };
        this->AddEvent(std::move(info));
        return *this;
    }

    // Declares a method that form resources can bind events to.
    template <class... Args>
    TClassInfo& Method(std::string Name, void (T::*Function)(Args...))
    {
        TMethodInfo info;
        info.Name = std::move(Name);
        info.Signature = typeid(void(Args...));
        info.Bind = [Function](TObject& o) -> std::any {
            T* self = &static_cast<T&>(o);
            return std::function<void(Args...)>([self, Function](Args... a) { (self->*Function)(a...); });
        };
        this->AddMethod(std::move(info));
        return *this;
    }

private:
    static TClass ParentClass()
    {
        if constexpr (std::is_same_v<T, TObject>) return nullptr;
        else return T::inherited::StaticClass();
    }
};

// Defines T::StaticClass() for a class without properties.
#define KORVANE_IMPLEMENT_CLASS(ThisClass, UnitName)                          \
    ::korvane::TClass ThisClass::StaticClass()                                \
    {                                                                         \
        static const ::korvane::TClassInfo<ThisClass> info(UnitName);         \
        return &info;                                                         \
    }

// Registration. Registering a class again is a no-op; another class with the
// same qualified or short name raises EFilerError "A class named %s already exists".
void RegisterClass(TClass AClass);
void RegisterClasses(std::initializer_list<TClass> AClasses);
template <class T>
void RegisterClass()
{
    RegisterClass(T::StaticClass());
}
void UnRegisterClass(TClass AClass);
// The registered class of that qualified or short name (letter case ignored); nil when none.
TClass GetClass(std::string_view AClassName);
// As GetClass, raising EClassNotFound "Class %s not found" when there is none.
TClass FindClass(std::string_view AClassName);

} // namespace korvane
