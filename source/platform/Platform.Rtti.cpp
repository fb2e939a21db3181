#include "Platform.Rtti.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace korvane {

namespace rtti_detail {

std::string ShortTypeName(const std::type_info& info)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(info.name(), nullptr, nullptr, &status),
                                                     std::free);
    std::string name = (status == 0 && demangled) ? std::string(demangled.get()) : std::string(info.name());
    // Drop the namespaces of the outermost name; template arguments keep theirs.
    size_t depth = 0, cut = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '<' || c == '(') ++depth;
        else if ((c == '>' || c == ')') && depth > 0) --depth;
        else if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') cut = i + 2;
    }
    return name.substr(cut);
}

} // namespace rtti_detail

namespace {
template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;
} // namespace

void TValue::InvalidCast()
{
    throw EInvalidCast();
}

TTypeKind TValue::Kind() const
{
    return std::visit(Overloaded{
                          [](std::monostate) { return tkUnknown; },
                          [](bool) { return tkEnumeration; },
                          [](int32_t) { return tkInteger; },
                          [](uint32_t) { return tkInteger; },
                          [](int64_t) { return tkInt64; },
                          [](uint64_t) { return tkInt64; },
                          [](float) { return tkFloat; },
                          [](double) { return tkFloat; },
                          [](const std::string&) { return tkString; },
                          [](TObject*) { return tkClass; },
                          [](const TBoxed& b) { return b.Ops->Kind; },
                      },
                      FData);
}

bool TValue::IsEmpty() const
{
    if (std::holds_alternative<std::monostate>(FData)) return true;
    if (const auto* o = std::get_if<TObject*>(&FData)) return *o == nullptr;
    return false;
}

bool TValue::IsOrdinal() const
{
    const TTypeKind k = Kind();
    return k == tkInteger || k == tkInt64 || k == tkEnumeration;
}

std::string TValue::TypeName() const
{
    return std::visit(Overloaded{
                          [](std::monostate) { return std::string(); },
                          [](bool) { return std::string("Boolean"); },
                          [](int32_t) { return std::string("Integer"); },
                          [](uint32_t) { return std::string("Cardinal"); },
                          [](int64_t) { return std::string("Int64"); },
                          [](uint64_t) { return std::string("UInt64"); },
                          [](float) { return std::string("Single"); },
                          [](double) { return std::string("Double"); },
                          [](const std::string&) { return std::string("string"); },
                          [](TObject* o) { return o ? o->ClassName() : std::string("TObject"); },
                          [](const TBoxed& b) { return b.Ops->Name(); },
                      },
                      FData);
}

int64_t TValue::AsInt64() const
{
    return std::visit(Overloaded{
                          [](std::monostate) -> int64_t { return 0; },
                          [](int32_t v) -> int64_t { return v; },
                          [](uint32_t v) -> int64_t { return v; },
                          [](int64_t v) -> int64_t { return v; },
                          [](uint64_t v) -> int64_t {
                              if (!std::in_range<int64_t>(v)) InvalidCast();
                              return int64_t(v);
                          },
                          [](const auto&) -> int64_t { InvalidCast(); },
                      },
                      FData);
}

uint64_t TValue::AsUInt64() const
{
    if (const auto* u = std::get_if<uint64_t>(&FData)) return *u;
    const int64_t v = AsInt64();
    if (v < 0) InvalidCast();
    return uint64_t(v);
}

int32_t TValue::AsInteger() const
{
    const int64_t v = AsInt64();
    if (!std::in_range<int32_t>(v)) InvalidCast();
    return int32_t(v);
}

int64_t TValue::AsOrdinal() const
{
    if (const auto* b = std::get_if<bool>(&FData)) return *b ? 1 : 0;
    if (const auto* box = std::get_if<TBoxed>(&FData)) {
        if (box->Ops->Kind != tkEnumeration) InvalidCast();
        return box->Ordinal;
    }
    return AsInt64();
}

bool TValue::AsBoolean() const
{
    if (std::holds_alternative<std::monostate>(FData)) return false;
    if (const auto* b = std::get_if<bool>(&FData)) return *b;
    InvalidCast();
}

double TValue::AsExtended() const
{
    return std::visit(Overloaded{
                          [](std::monostate) -> double { return 0.0; },
                          [](int32_t v) -> double { return v; },
                          [](uint32_t v) -> double { return v; },
                          [](int64_t v) -> double { return double(v); },
                          [](uint64_t v) -> double { return double(v); },
                          [](float v) -> double { return v; },
                          [](double v) -> double { return v; },
                          [](const auto&) -> double { InvalidCast(); },
                      },
                      FData);
}

std::string TValue::AsString() const
{
    if (std::holds_alternative<std::monostate>(FData)) return std::string();
    if (const auto* s = std::get_if<std::string>(&FData)) return *s;
    InvalidCast();
}

TObject* TValue::AsObject() const
{
    if (std::holds_alternative<std::monostate>(FData)) return nullptr;
    if (const auto* o = std::get_if<TObject*>(&FData)) return *o;
    InvalidCast();
}

std::string TValue::ToString() const
{
    return std::visit(Overloaded{
                          [](std::monostate) { return std::string("(empty)"); },
                          [](bool v) { return std::string(v ? "True" : "False"); },
                          [](int32_t v) { return IntToStr(v); },
                          [](uint32_t v) { return IntToStr(v); },
                          [](int64_t v) { return IntToStr(v); },
                          [](uint64_t v) { return std::to_string(v); },
                          [](float v) { return FloatToStr(double(v)); },
                          [](double v) { return FloatToStr(v); },
                          [](const std::string& v) { return v; },
                          [](TObject* o) {
                              if (!o) return std::string("(empty)");
                              return Format("(%s @ %p)", o->ClassName(), static_cast<const void*>(o));
                          },
                          [](const TBoxed& b) { return b.Ops->Text(b.Value); },
                      },
                      FData);
}

bool TValue::operator==(const TValue& Other) const
{
    // Integers of every width form one family.
    auto family = [](TTypeKind k) { return k == tkInt64 ? tkInteger : k; };
    const TTypeKind k = family(Kind());
    if (k != family(Other.Kind())) return false;
    switch (k) {
    case tkUnknown: return true;
    case tkInteger:
    case tkInt64: {
        // Compare across widths and signedness without wrapping.
        const bool aNeg = AsSignedNegative(), bNeg = Other.AsSignedNegative();
        if (aNeg != bNeg) return false;
        if (aNeg) return AsInt64() == Other.AsInt64();
        return AsUInt64() == Other.AsUInt64();
    }
    case tkFloat: return AsExtended() == Other.AsExtended();
    case tkString: return std::get<std::string>(FData) == std::get<std::string>(Other.FData);
    case tkClass: return std::get<TObject*>(FData) == std::get<TObject*>(Other.FData);
    case tkEnumeration:
        if (std::holds_alternative<bool>(FData) || std::holds_alternative<bool>(Other.FData)) {
            const auto* a = std::get_if<bool>(&FData);
            const auto* b = std::get_if<bool>(&Other.FData);
            return a && b && *a == *b;
        }
        [[fallthrough]];
    case tkRecord: {
        const auto& a = std::get<TBoxed>(FData);
        const auto& b = std::get<TBoxed>(Other.FData);
        return a.Value.type() == b.Value.type() && a.Ops->Equal(a.Value, b.Value);
    }
    }
    return false;
}

bool TValue::AsSignedNegative() const
{
    if (const auto* i = std::get_if<int32_t>(&FData)) return *i < 0;
    if (const auto* i = std::get_if<int64_t>(&FData)) return *i < 0;
    return false;
}

} // namespace korvane
