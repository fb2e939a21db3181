// The JSON reader on arbitrary text. Only EJSONParseException may come out of
// reading; whatever was read must be writable, compact and indented, and the
// written text must read back to the same text. Every finite double the input
// spells in its first eight bytes must be written as a number that reads back
// finite.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "Platform.JSON.h"

using namespace korvane;
using korvane::fuzz::Check;

namespace {

// The conversions of every number in the tree: a text beyond a type's range is
// an EConvertError, nothing else.
void ConvertNumbers(const TJSONValue& value)
{
    switch (value.Kind()) {
    case TJSONValue::TKind::Number: {
        const auto& number = value.As<TJSONNumber>();
        try {
            Check(std::isfinite(number.AsDouble()), "a number read back infinite", std::string(number.Text()));
        } catch (const EConvertError&) {
        }
        try {
            number.AsInt();
        } catch (const EConvertError&) {
        }
        try {
            number.AsInt64();
        } catch (const EConvertError&) {
        }
        break;
    }
    case TJSONValue::TKind::Array:
        for (const auto& item : value.As<TJSONArray>()) ConvertNumbers(*item);
        break;
    case TJSONValue::TKind::Object:
        for (const auto& pair : value.As<TJSONObject>()) ConvertNumbers(*pair.JsonValue());
        break;
    default:
        break;
    }
}

void CheckDoubleText(const uint8_t* data, size_t size)
{
    if (size < sizeof(double)) return;
    double d;
    std::memcpy(&d, data, sizeof(d));
    if (!std::isfinite(d)) return;
    const TJSONNumber number(d);
    const auto back = TJSONValue::ParseJSONValue(number.ToJSON());
    const double read = back->As<TJSONNumber>().AsDouble();
    Check(std::isfinite(read), "a finite double was written as text that does not read back",
          std::string(number.Text()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckDoubleText(data, size);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<TJSONValue> value;
    try {
        value = TJSONValue::ParseJSONValue(text);
    } catch (const EJSONParseException& e) {
        Check(e.Offset() <= size, "a parse error offset lies beyond the text");
        return 0;
    }
    Check(value != nullptr, "reading gave no value");
    ConvertNumbers(*value);

    const std::string compact = value->ToJSON();
    const std::string again = TJSONValue::ParseJSONValue(compact)->ToJSON();
    Check(again == compact, "compact text does not read back to itself", compact + "\n" + again);
    const std::string indented = value->Format(2);
    Check(TJSONValue::ParseJSONValue(indented)->ToJSON() == compact, "indented text reads back different",
          indented);
    return 0;
}
