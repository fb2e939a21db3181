#pragma once
// Basic run-time services of the platform layer: the exception classes, the
// locale-independent "en-US" number formatting and Format().

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace korvane {

// Base of every exception the framework raises; Message is the English text.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }

private:
    std::string FMessage;
};

// The silent abort: callers that catch exceptions to report them skip this kind.
class EAbort : public Exception {
public:
    explicit EAbort(std::string message = "Operation aborted") : Exception(std::move(message)) {}
};

class EArgumentException : public Exception { using Exception::Exception; };
class EConvertError : public Exception { using Exception::Exception; };
class EStreamError : public Exception { using Exception::Exception; };
class EReadError : public EStreamError { using EStreamError::EStreamError; };
class EWriteError : public EStreamError { using EStreamError::EStreamError; };
class EInvalidOperation : public Exception { using Exception::Exception; };
// An index or position outside the range of its container.
class ERangeError : public Exception { using Exception::Exception; };
// A value or object used as a type it is not ("Invalid class typecast").
class EInvalidCast : public Exception {
public:
    explicit EInvalidCast(std::string message = "Invalid class typecast") : Exception(std::move(message)) {}
};

// A failed internal consistency check; the message names the text, the unit and the line.
class EAssertionFailed : public Exception {
public:
    EAssertionFailed(const std::string& text, const std::string& unitName, int line)
        : Exception(text + " (" + unitName + ", line " + std::to_string(line) + ")"), FUnitName(unitName),
          FLine(line) {}
    const std::string& UnitName() const noexcept { return FUnitName; }
    int Line() const noexcept { return FLine; }

private:
    std::string FUnitName;
    int FLine;
};

// One argument of Format(): integers, floats, strings and pointers.
struct FormatArg {
    std::variant<int64_t, uint64_t, double, std::string, const void*> Value;

    template <typename T>
    FormatArg(const T& v) : Value(Convert(v)) {}

private:
    template <typename T>
    static decltype(Value) Convert(const T& v)
    {
        using U = std::decay_t<T>;
        if constexpr (std::is_same_v<U, bool>) return int64_t(v ? 1 : 0);
        else if constexpr (std::is_enum_v<U>) return int64_t(static_cast<std::underlying_type_t<U>>(v));
        else if constexpr (std::is_integral_v<U> && std::is_signed_v<U>) return int64_t(v);
        else if constexpr (std::is_integral_v<U>) return uint64_t(v);
        else if constexpr (std::is_floating_point_v<U>) return double(v);
        else if constexpr (std::is_convertible_v<U, std::string_view>) return std::string(std::string_view(v));
        else if constexpr (std::is_pointer_v<U>) return static_cast<const void*>(v);
        else static_assert(sizeof(U) == 0, "unsupported Format argument");
    }
};

// The largest width, precision and argument index Format() accepts.
inline constexpr int64_t FormatMaxWidth = 1000000;

// Delphi-style format: %[index:][-][width][.prec](d|u|e|f|g|n|m|p|s|x), %% for a percent sign.
// Numbers always use the "en-US" settings ('.' decimal, ',' thousands), whatever the process locale.
// Every fault raises EConvertError, also a width, precision or index (written
// or given by '*') beyond FormatMaxWidth.
std::string FormatV(std::string_view fmt, const std::vector<FormatArg>& args);

template <typename... Args>
std::string Format(std::string_view fmt, const Args&... args)
{
    return FormatV(fmt, std::vector<FormatArg>{FormatArg(args)...});
}

// General float format: shortest of fixed or scientific with at most `precision`
// significant digits, trailing zeros removed, exponent as "E5" / "E-7".
std::string FloatToStrGeneral(double value, int precision = 15);
// FloatToStr of the "en-US" settings: the general format with 15 digits.
inline std::string FloatToStr(double value) { return FloatToStrGeneral(value, 15); }
// Fixed format with `digits` decimals ("%.Nf"), locale independent.
std::string FloatToStrFixed(double value, int digits);
// Parses a float in the "en-US" settings (optional sign, digits, '.', exponent); raises EConvertError.
double StrToFloat(std::string_view text);
bool TryStrToFloat(std::string_view text, double& value);
// Number format settings of a culture. Only the separators matter to the
// number texts; a default-constructed value holds those of "en-US".
struct TFormatSettings {
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    friend bool operator==(const TFormatSettings&, const TFormatSettings&) = default;
};
// FloatToStr with the decimal separator of the settings.
std::string FloatToStr(double value, const TFormatSettings& settings);
// Strict parse with the settings: an optional sign, digits with at most one
// decimal separator (at least one digit), an optional exponent; no blanks, no
// thousands separators, no "INF"/"NAN"; false when the text is not such a
// number or out of the Double range.
bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& settings);
int64_t StrToInt64(std::string_view text);
bool TryStrToInt64(std::string_view text, int64_t& value);
int StrToInt(std::string_view text);
bool TryStrToInt(std::string_view text, int& value);
std::string IntToStr(int64_t value);

// A globally unique identifier; the text form is the registry form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" of hexadecimal digits.
struct TGUID {
    uint32_t D1 = 0;
    uint16_t D2 = 0;
    uint16_t D3 = 0;
    uint8_t D4[8] = {};

    static TGUID Empty() { return TGUID(); }
    bool IsEmpty() const { return *this == TGUID(); }
    friend bool operator==(const TGUID& a, const TGUID& b) = default;
};
// Raises EConvertError "'%s' is not a valid GUID value" for text not in the registry form.
TGUID StringToGUID(std::string_view text);
bool TryStringToGUID(std::string_view text, TGUID& guid);
std::string GUIDToString(const TGUID& guid);
// A new random identifier (version 4, variant 1).
TGUID CreateGUID();

// Text helpers used across the framework.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
std::string Trim(std::string_view s);
// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUTF8(std::string_view s);

} // namespace korvane
