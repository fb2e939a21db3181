#pragma once
// TValue: a tagged value holding nothing or one value together with its type.
// Defines, shader constants, property bags, metadata tags and the property
// table of the class registry pass values around in it.
//
// Kinds: empty; integers of up to 32 bits (tkInteger); 64-bit integers
// (tkInt64); Single and Double (tkFloat, kept apart: IsType<float>() versus
// IsType<double>()); strings (tkString); Boolean and other enumerations
// (tkEnumeration); object references (tkClass); and records (tkRecord): any
// other copyable type, stored type-erased, so record types declared in other
// units (points, vectors, matrices, colours) need no registration here.
//
// Conversions (AsInteger, AsExtended, ...) accept the kinds they make sense
// for and raise EInvalidCast ("Invalid class typecast") otherwise; integer
// conversions that would not fit raise as well. An empty value reads as the
// zero of every type.

#include <any>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>

#include "Platform.Classes.h"
#include "Platform.SysUtils.h"

namespace korvane {

enum TTypeKind : uint8_t {
    tkUnknown,     // the empty value
    tkInteger,     // integers of up to 32 bits
    tkInt64,       // 64-bit integers, signed or unsigned
    tkFloat,       // Single or Double
    tkString,      // text (UTF-8)
    tkEnumeration, // Boolean and other enumerations
    tkClass,       // an object reference (TObject*, may be nil)
    tkRecord       // any other copyable value type
};

// The names of an enumeration's values, in ordinal order, for text forms and
// streaming. Declare them once per enumeration, inside namespace korvane:
//   KORVANE_ENUM_NAMES(TAlignLayout, "None", "Top", "Client")
template <typename E>
struct TEnumNames {
    static constexpr bool Defined = false;
};

#define KORVANE_ENUM_NAMES(E, ...)                                      \
    template <>                                                         \
    struct TEnumNames<E> {                                              \
        static constexpr bool Defined = true;                           \
        static constexpr const char* Names[] = {__VA_ARGS__};           \
        static constexpr int Count = int(sizeof(Names) / sizeof(Names[0])); \
    }

namespace rtti_detail {
// The unqualified class name of a C++ type ("korvane::TPoint3D" -> "TPoint3D").
std::string ShortTypeName(const std::type_info& info);
// Hides enclosing ToString overloads so that only argument-dependent lookup finds
// a record's own text function.
void ToString() = delete;
template <typename T>
concept HasToString = requires(const T& v) {
    { ToString(v) } -> std::convertible_to<std::string>;
};
template <typename T>
std::string RecordText(const T& v)
{
    if constexpr (HasToString<T>) return std::string(ToString(v));
    else return "(record)";
}
} // namespace rtti_detail

// The name of an enumeration value, or its ordinal as text when it has none.
template <typename E>
std::string GetEnumName(E value)
{
    const auto ordinal = static_cast<int64_t>(value);
    if constexpr (TEnumNames<E>::Defined) {
        if (ordinal >= 0 && ordinal < TEnumNames<E>::Count) return TEnumNames<E>::Names[ordinal];
    }
    return IntToStr(ordinal);
}

// The value whose name is Name (letter case ignored); false when there is none.
template <typename E>
bool TryGetEnumValue(std::string_view Name, E& Value)
{
    if constexpr (TEnumNames<E>::Defined) {
        for (int i = 0; i < TEnumNames<E>::Count; ++i)
            if (SameText(Name, TEnumNames<E>::Names[i])) {
                Value = static_cast<E>(i);
                return true;
            }
    }
    return false;
}

class TValue {
public:
    TValue() = default;

    // The value of v with the type T. Integers, floats, bool, strings (std::string,
    // string views, C strings, char), TObject-derived pointers, enumerations and
    // any other copyable type (stored as a record).
    template <typename T>
    static TValue From(const T& v);
    static TValue Empty() { return TValue(); }

    TTypeKind Kind() const;
    // True for the empty value and for a nil object reference.
    bool IsEmpty() const;
    // The type's own name: "Integer", "Cardinal", "Int64", "UInt64", "Single",
    // "Double", "Boolean", "string", the class name of an object, the
    // enumeration's or record's type name; "" when empty.
    std::string TypeName() const;
    bool IsOrdinal() const;

    int32_t AsInteger() const;
    int64_t AsInt64() const;
    uint64_t AsUInt64() const;
    // Integers, Booleans and enumerations as their ordinal.
    int64_t AsOrdinal() const;
    bool AsBoolean() const;
    double AsExtended() const;
    std::string AsString() const;
    TObject* AsObject() const;

    // The value as T: records and enumerations only as their own type, objects
    // as any class they are (nil stays nil), numbers through the As* rules.
    template <typename T>
    T AsType() const;
    template <typename T>
    bool TryAsType(T& Result) const;
    // True when the stored value has exactly the type T (small integers are
    // stored as Integer or Cardinal, so IsType<int16_t>() means IsType<int32_t>();
    // an object reference is of every class it is an instance of, nil of every class).
    template <typename T>
    bool IsType() const;

    // The text form: numbers in "en-US" (Single widened to Double first, so
    // 0.35f gives "0.349999994039536"), "True"/"False", enumeration names, the
    // string itself, "(TClass @ 0x...)" for objects, a record's ToString when it
    // has one (found by argument-dependent lookup) else "(record)", "(empty)".
    std::string ToString() const;

    // Equal kind and value: integers by value whatever their width, Single and
    // Double by value, strings exactly, objects by identity, enumerations and
    // records by type and value (records without == are never equal).
    bool operator==(const TValue& Other) const;
    bool operator!=(const TValue& Other) const { return !(*this == Other); }

private:
    // Type-erased storage of enumerations and records.
    struct TBoxOps {
        TTypeKind Kind;
        std::string (*Name)();
        bool (*Equal)(const std::any& a, const std::any& b);
        std::string (*Text)(const std::any& a);
    };
    struct TBoxed {
        std::any Value;
        const TBoxOps* Ops = nullptr;
        int64_t Ordinal = 0; // enumerations only
    };

    template <typename T>
    static std::string BoxName()
    {
        return rtti_detail::ShortTypeName(typeid(T));
    }
    template <typename T>
    static bool BoxEqual(const std::any& a, const std::any& b)
    {
        if constexpr (std::equality_comparable<T>) return std::any_cast<const T&>(a) == std::any_cast<const T&>(b);
        else return false;
    }
    template <typename T>
    static std::string BoxText(const std::any& a)
    {
        const T& v = std::any_cast<const T&>(a);
        if constexpr (std::is_enum_v<T>) return GetEnumName(v);
        else return rtti_detail::RecordText(v);
    }
    template <typename T>
    static inline const TBoxOps FBoxOps{std::is_enum_v<T> ? tkEnumeration : tkRecord, &BoxName<T>, &BoxEqual<T>,
                                        &BoxText<T>};

    template <typename T>
    static constexpr bool IsObjectPointer =
        std::is_pointer_v<T> && std::is_base_of_v<TObject, std::remove_cv_t<std::remove_pointer_t<T>>>;
    template <typename T>
    static constexpr bool IsStringLike = std::is_convertible_v<const T&, std::string_view> && !std::is_same_v<T, std::nullptr_t>;
    template <typename T>
    static constexpr bool IsInteger = std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>;

    [[noreturn]] static void InvalidCast();
    bool AsSignedNegative() const;

    using TData = std::variant<std::monostate, bool, int32_t, uint32_t, int64_t, uint64_t, float, double, std::string,
                               TObject*, TBoxed>;
    TData FData;
};

template <typename T>
TValue TValue::From(const T& v)
{
    using U = std::remove_cv_t<T>;
    TValue r;
    if constexpr (std::is_same_v<U, TValue>) {
        r = v;
    } else if constexpr (std::is_same_v<U, bool>) {
        r.FData = v;
    } else if constexpr (std::is_same_v<U, char>) {
        r.FData = std::string(1, v);
    } else if constexpr (IsInteger<U>) {
        if constexpr (sizeof(U) <= 4 && std::is_signed_v<U>) r.FData = int32_t(v);
        else if constexpr (sizeof(U) <= 4) r.FData = uint32_t(v);
        else if constexpr (std::is_signed_v<U>) r.FData = int64_t(v);
        else r.FData = uint64_t(v);
    } else if constexpr (std::is_same_v<U, float>) {
        r.FData = v;
    } else if constexpr (std::is_floating_point_v<U>) {
        r.FData = double(v);
    } else if constexpr (std::is_same_v<U, std::nullptr_t>) {
        r.FData = static_cast<TObject*>(nullptr);
    } else if constexpr (IsObjectPointer<U>) {
        r.FData = static_cast<TObject*>(const_cast<std::remove_cv_t<std::remove_pointer_t<U>>*>(v));
    } else if constexpr (std::is_array_v<U> || std::is_pointer_v<U>) {
        static_assert(IsStringLike<U>, "TValue holds object pointers derived from TObject and C strings only");
        r.FData = std::string(std::string_view(v));
    } else if constexpr (IsStringLike<U>) {
        r.FData = std::string(std::string_view(v));
    } else {
        static_assert(std::is_copy_constructible_v<U>, "TValue records must be copyable");
        TBoxed box;
        box.Value = U(v);
        box.Ops = &FBoxOps<U>;
        if constexpr (std::is_enum_v<U>) box.Ordinal = static_cast<int64_t>(v);
        r.FData = std::move(box);
    }
    return r;
}

template <typename T>
bool TValue::IsType() const
{
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, TValue>) {
        return true;
    } else if constexpr (std::is_same_v<U, bool>) {
        return std::holds_alternative<bool>(FData);
    } else if constexpr (IsInteger<U>) {
        if constexpr (sizeof(U) <= 4 && std::is_signed_v<U>) return std::holds_alternative<int32_t>(FData);
        else if constexpr (sizeof(U) <= 4) return std::holds_alternative<uint32_t>(FData);
        else if constexpr (std::is_signed_v<U>) return std::holds_alternative<int64_t>(FData);
        else return std::holds_alternative<uint64_t>(FData);
    } else if constexpr (std::is_same_v<U, float>) {
        return std::holds_alternative<float>(FData);
    } else if constexpr (std::is_floating_point_v<U>) {
        return std::holds_alternative<double>(FData);
    } else if constexpr (std::is_same_v<U, std::string> || std::is_same_v<U, char>) {
        return std::holds_alternative<std::string>(FData);
    } else if constexpr (IsObjectPointer<U>) {
        const auto* p = std::get_if<TObject*>(&FData);
        return p && (*p == nullptr || dynamic_cast<U>(*p) != nullptr);
    } else {
        const auto* box = std::get_if<TBoxed>(&FData);
        return box && box->Value.type() == typeid(U);
    }
}

template <typename T>
T TValue::AsType() const
{
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, TValue>) {
        return *this;
    } else if constexpr (std::is_same_v<U, bool>) {
        return AsBoolean();
    } else if constexpr (std::is_same_v<U, char>) {
        const std::string s = AsString();
        if (s.size() != 1) InvalidCast();
        return s[0];
    } else if constexpr (IsInteger<U>) {
        if (std::holds_alternative<uint64_t>(FData)) {
            const uint64_t u = std::get<uint64_t>(FData);
            if (!std::in_range<U>(u)) InvalidCast();
            return static_cast<U>(u);
        }
        const int64_t i = AsInt64();
        if (!std::in_range<U>(i)) InvalidCast();
        return static_cast<U>(i);
    } else if constexpr (std::is_floating_point_v<U>) {
        if (const auto* f = std::get_if<float>(&FData)) return static_cast<U>(*f);
        return static_cast<U>(AsExtended());
    } else if constexpr (std::is_same_v<U, std::string>) {
        return AsString();
    } else if constexpr (IsObjectPointer<U>) {
        TObject* o = AsObject();
        if (!o) return nullptr;
        auto* p = dynamic_cast<U>(o);
        if (!p) InvalidCast();
        return p;
    } else {
        if (std::holds_alternative<std::monostate>(FData)) {
            if constexpr (std::is_default_constructible_v<U>) return U{};
            else InvalidCast();
        }
        const auto* box = std::get_if<TBoxed>(&FData);
        if (!box || box->Value.type() != typeid(U)) InvalidCast();
        return std::any_cast<const U&>(box->Value);
    }
}

template <typename T>
bool TValue::TryAsType(T& Result) const
{
    try {
        Result = AsType<T>();
        return true;
    } catch (const EInvalidCast&) {
        return false;
    }
}

} // namespace korvane
