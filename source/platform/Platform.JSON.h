#pragma once
// The JSON object model of the platform. Objects keep their pairs in the order
// they were added or read, a name may repeat, and a lookup answers the first
// pair of that name (letter case included). Numbers keep the text they were
// read or created with, so a read-write cycle gives back the same text.
//
// Text is UTF-8. Reading treats its input as hostile: nesting depth is
// bounded, encodings are validated and every failure is an EJSONParseException.
//
// A document read from text lives in one block of memory: its text is copied
// once and strings, names and number texts refer into that copy; values and
// the element and pair lists sit side by side in one arena that the root frees
// at once. Values built by code own their own text and are owned by the
// container they are added to.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "Platform.SysUtils.h"

namespace korvane {

class EJSONException : public Exception { using Exception::Exception; };

// A text that is not valid JSON; Offset is the byte position of the fault.
class EJSONParseException : public EJSONException {
public:
    EJSONParseException(std::string message, size_t offset)
        : EJSONException(std::move(message)), FOffset(offset) {}
    size_t Offset() const { return FOffset; }

private:
    size_t FOffset;
};

// Deepest nesting of arrays and objects the reader accepts and the writer writes.
inline constexpr int JSONMaxDepth = 1000;

// The memory of one document: its text, its values and its lists.
class TJSONArena;

class TJSONValue {
public:
    enum class TKind : uint8_t { Null, True, False, Number, String, Array, Object };

    TJSONValue(const TJSONValue&) = delete;
    TJSONValue& operator=(const TJSONValue&) = delete;
    virtual ~TJSONValue() = default;

    TKind Kind() const { return FKind; }
    virtual const char* ClassName() const = 0;

    // The value as text: a string's contents, a number's text, "true",
    // "false" or "null"; empty for arrays and objects.
    virtual std::string Value() const { return {}; }

    // The JSON text: compact, or indented by `Indentation` blanks per level.
    std::string ToJSON() const;
    std::string Format(int Indentation = 4) const;

    // Reads one JSON value; the whole text must be that value (blanks around it
    // allowed). Raises EJSONParseException.
    static std::unique_ptr<TJSONValue> ParseJSONValue(std::string_view Text);

    // The value as T, or nullptr when it is of another class.
    template <typename T>
    T* TryAs() { return dynamic_cast<T*>(this); }
    template <typename T>
    const T* TryAs() const { return dynamic_cast<const T*>(this); }
    // The value as T; raises EJSONException "Conversion from X to Y is not supported" otherwise.
    template <typename T>
    T& As()
    {
        if (auto* v = dynamic_cast<T*>(this)) return *v;
        RaiseConversion(T::StaticClassName());
    }
    template <typename T>
    const T& As() const
    {
        if (auto* v = dynamic_cast<const T*>(this)) return *v;
        RaiseConversion(T::StaticClassName());
    }

protected:
    explicit TJSONValue(TKind kind) : FKind(kind) {}

    // Bits of FFlags.
    static constexpr uint8_t OwnsArena = 1;  // a container that frees its arena
    static constexpr uint8_t InlineText = 2; // a string whose text sits in the value
    static constexpr uint8_t OwnsText = 4;   // a string whose text it allocated

    TKind FKind;
    uint8_t FFlags = 0;
    // The bytes of a string, the elements of an array, the pairs of an object.
    uint32_t FSize = 0;

private:
    friend class TJSONBuilder;
    [[noreturn]] void RaiseConversion(const char* target) const;
};

// A JSON string. Numbers derive from it: a number also counts as a string.
class TJSONString : public TJSONValue {
public:
    explicit TJSONString(std::string_view value = {}) : TJSONValue(TKind::String) { Assign(value); }
    ~TJSONString() override;
    static const char* StaticClassName() { return "TJSONString"; }
    const char* ClassName() const override { return StaticClassName(); }
    std::string Value() const override { return std::string(Text()); }
    // The text itself, valid as long as the value.
    std::string_view Text() const { return {(FFlags & InlineText) ? FInline : FData, FSize}; }

protected:
    TJSONString(TKind kind, std::string_view value) : TJSONValue(kind) { Assign(value); }
    // A text that the document holds: it is not copied.
    struct TViewTag {};
    TJSONString(TViewTag, TKind kind, const char* data, uint32_t size) : TJSONValue(kind), FData(data)
    {
        FSize = size;
    }

private:
    friend class TJSONBuilder;
    void Assign(std::string_view value);
    // Short texts of values built by code sit here, saving an allocation.
    union {
        const char* FData;
        char FInline[16];
    };
};

// A JSON number with the text it was read or created with.
class TJSONNumber : public TJSONString {
public:
    // Integers are written in decimal; floating-point values in the general
    // format with at most 15 significant digits (a float is widened to double
    // first, so 0.35f gives 0.349999994039536); 17 where 15 would round past the
    // double range, so every text reads back finite. NaN and infinities have no
    // JSON form and raise EJSONException.
    template <typename T, typename = std::enable_if_t<std::is_arithmetic_v<T> && !std::is_same_v<T, bool>>>
    explicit TJSONNumber(T value) : TJSONString(TKind::Number, TextOf(value)) {}

    // A number from its JSON text; raises EJSONException when the text is not a JSON number.
    static std::unique_ptr<TJSONNumber> FromText(std::string_view text);

    static const char* StaticClassName() { return "TJSONNumber"; }
    const char* ClassName() const override { return StaticClassName(); }

    // Conversions of the text; EConvertError when the text does not convert
    // (an exponent for the integers, a value beyond the type's range).
    double AsDouble() const;
    int AsInt() const;
    int64_t AsInt64() const;

private:
    struct FromTextTag {};
    TJSONNumber(FromTextTag, std::string_view text) : TJSONString(TKind::Number, text) {}
    TJSONNumber(TViewTag tag, const char* data, uint32_t size) : TJSONString(tag, TKind::Number, data, size) {}
    friend class TJSONBuilder;

    template <typename T>
    static std::string TextOf(T value)
    {
        if constexpr (std::is_floating_point_v<T>) return FloatText(static_cast<double>(value));
        else if constexpr (std::is_signed_v<T>) return std::to_string(static_cast<int64_t>(value));
        else return std::to_string(static_cast<uint64_t>(value));
    }
    static std::string FloatText(double value);
};

class TJSONBool : public TJSONValue {
public:
    static const char* StaticClassName() { return "TJSONBool"; }
    const char* ClassName() const override { return StaticClassName(); }
    bool AsBoolean() const { return Kind() == TKind::True; }
    std::string Value() const override { return AsBoolean() ? "true" : "false"; }
    static std::unique_ptr<TJSONBool> Create(bool value);

protected:
    explicit TJSONBool(TKind kind) : TJSONValue(kind) {}
};

class TJSONTrue : public TJSONBool {
public:
    TJSONTrue() : TJSONBool(TKind::True) {}
    static const char* StaticClassName() { return "TJSONTrue"; }
    const char* ClassName() const override { return StaticClassName(); }
};

class TJSONFalse : public TJSONBool {
public:
    TJSONFalse() : TJSONBool(TKind::False) {}
    static const char* StaticClassName() { return "TJSONFalse"; }
    const char* ClassName() const override { return StaticClassName(); }
};

class TJSONNull : public TJSONValue {
public:
    TJSONNull() : TJSONValue(TKind::Null) {}
    static const char* StaticClassName() { return "TJSONNull"; }
    const char* ClassName() const override { return StaticClassName(); }
    std::string Value() const override { return "null"; }
};

// What arrays and objects share: their lists live in an arena, the one of the
// document they were read into or one of their own, created on the first add.
// Every value added by code is owned by that arena from then on.
class TJSONContainer : public TJSONValue {
public:
    ~TJSONContainer() override;
    int Count() const { return static_cast<int>(FSize); }

protected:
    using TJSONValue::TJSONValue;
    TJSONArena& Arena();
    // Keeps AValue alive as long as the arena; AValue must not be null.
    void Adopt(std::unique_ptr<TJSONValue> AValue);
    // Room for one more entry in AItems (entries of AEntrySize bytes), moving
    // them to a larger block of the arena when full.
    void* Grow(void* AItems, size_t AEntrySize);
    // Room for ACount entries in all.
    void* Reserve(void* AItems, size_t AEntrySize, int ACount);

    TJSONArena* FArena = nullptr;
    uint32_t FCapacity = 0;

    friend class TJSONBuilder;
};

// One element of an array, used like a pointer to the value; the array owns it.
class TJSONElement {
public:
    TJSONValue* get() const { return FValue; }
    TJSONValue* operator->() const { return FValue; }
    TJSONValue& operator*() const { return *FValue; }

private:
    friend class TJSONArray;
    friend class TJSONBuilder;
    TJSONValue* FValue;
};

class TJSONArray : public TJSONContainer {
public:
    TJSONArray() : TJSONContainer(TKind::Array) {}
    static const char* StaticClassName() { return "TJSONArray"; }
    const char* ClassName() const override { return StaticClassName(); }

    // Raises EJSONException for an index out of range.
    TJSONValue* Items(int index) const;

    // Appends an element and returns it.
    template <typename T>
    T* Add(std::unique_ptr<T> value)
    {
        T* p = value.get();
        AddElement(std::move(value));
        return p;
    }
    TJSONArray& AddElement(std::unique_ptr<TJSONValue> value);
    // Room for ACount elements in all, for writers that know their size.
    void Reserve(int ACount);
    TJSONArray& Add(std::string_view value);
    TJSONArray& Add(const char* value) { return Add(std::string_view(value)); }

    const TJSONElement* begin() const { return FItems; }
    const TJSONElement* end() const { return FItems + FSize; }

private:
    friend class TJSONBuilder;
    TJSONElement* FItems = nullptr;
};

// One name/value pair of an object.
class TJSONPair {
public:
    // The name, valid as long as the object.
    std::string_view Name() const { return {FName, FNameSize}; }
    TJSONValue* JsonValue() const { return FValue; }

private:
    friend class TJSONObject;
    friend class TJSONBuilder;
    TJSONPair(const char* name, uint32_t nameSize, TJSONValue* value)
        : FName(name), FValue(value), FNameSize(nameSize) {}
    const char* FName;
    TJSONValue* FValue;
    uint32_t FNameSize;
};

class TJSONObject : public TJSONContainer {
public:
    TJSONObject() : TJSONContainer(TKind::Object) {}
    static const char* StaticClassName() { return "TJSONObject"; }
    const char* ClassName() const override { return StaticClassName(); }

    // Reads a text that must hold one JSON object; raises EJSONParseException otherwise.
    static std::unique_ptr<TJSONObject> ParseJSONObject(std::string_view Text);

    // Raises EJSONException for an index out of range.
    const TJSONPair& Pairs(int index) const;

    // The first pair whose name equals Name exactly, or nullptr.
    const TJSONPair* Get(std::string_view Name) const;
    // The value of that pair, or nullptr.
    TJSONValue* GetValue(std::string_view Name) const;

    // Appends a pair (also when the name is there already) and returns this object.
    TJSONObject& AddPair(std::string_view Name, std::unique_ptr<TJSONValue> Value);
    TJSONObject& AddPair(std::string_view Name, std::string_view Value);
    TJSONObject& AddPair(std::string_view Name, const char* Value) { return AddPair(Name, std::string_view(Value)); }

    const TJSONPair* begin() const { return FPairs; }
    const TJSONPair* end() const { return FPairs + FSize; }

private:
    friend class TJSONBuilder;
    TJSONPair* FPairs = nullptr;
};

} // namespace korvane
