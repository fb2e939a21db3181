#include "Platform.JSON.h"

#include <cmath>

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace korvane {

namespace {

// The JSON number grammar: -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
bool IsJSONNumberText(std::string_view s)
{
    size_t i = 0;
    const size_t n = s.size();
    auto digits = [&]() {
        const size_t start = i;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
        return i > start;
    };
    if (i < n && s[i] == '-') ++i;
    if (i < n && s[i] == '0') ++i;
    else if (!digits()) return false;
    if (i < n && s[i] == '.') {
        ++i;
        if (!digits()) return false;
    }
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return i == n;
}

// The reader turns a "\u" escape of a low surrogate without a high one before
// it into the UTF-8 form of the surrogate itself (ED B0..BF xx), which is no
// valid UTF-8. A lone high surrogate the reader refuses by itself.
bool HasEncodedSurrogate(const char* str, size_t length)
{
    for (size_t i = 0; i + 1 < length; ++i)
        if (static_cast<unsigned char>(str[i]) == 0xED && static_cast<unsigned char>(str[i + 1]) >= 0xA0) return true;
    return false;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code unit of the "\uXXXX" escape at s[i] ('\\' at i), or -1.
int EscapedUnit(std::string_view s, size_t i)
{
    if (i + 6 > s.size() || s[i + 1] != 'u') return -1;
    int unit = 0;
    for (size_t k = i + 2; k < i + 6; ++k) {
        const int d = HexDigit(s[k]);
        if (d < 0) return -1;
        unit = unit * 16 + d;
    }
    return unit;
}

// The offset of the first "\u" escape of a low surrogate that does not follow
// a high one, in the strings of a text the reader has accepted up to there;
// the text's size when there is none.
size_t LoneSurrogateOffset(std::string_view s)
{
    bool inString = false;
    bool afterHigh = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (!inString) {
            inString = c == '"';
            continue;
        }
        if (c == '"') {
            inString = false;
            afterHigh = false;
        } else if (c == '\\') {
            const int unit = EscapedUnit(s, i);
            if (unit >= 0xDC00 && unit <= 0xDFFF && !afterHigh) return i;
            afterHigh = unit >= 0xD800 && unit <= 0xDBFF;
            i += unit >= 0 ? 5 : 1;
        } else {
            afterHigh = false;
        }
    }
    return s.size();
}

} // namespace

// Builds our object model from the reader's events. Numbers arrive as their
// text (the reader runs with kParseNumbersAsStringsFlag).
class TJSONBuilder {
public:
    std::unique_ptr<TJSONValue> Root;
    bool TooDeep = false;
    // A string or name held an escaped surrogate without its partner.
    bool LoneSurrogate = false;

    bool Null() { return Add(std::make_unique<TJSONNull>()); }
    bool Bool(bool b) { return Add(TJSONBool::Create(b)); }
    // Not called while numbers are read as text; the handler concept needs them.
    bool Int(int) { return false; }
    bool Uint(unsigned) { return false; }
    bool Int64(int64_t) { return false; }
    bool Uint64(uint64_t) { return false; }
    bool Double(double) { return false; }
    bool RawNumber(const char* str, rapidjson::SizeType length, bool)
    {
        return Add(std::unique_ptr<TJSONNumber>(
            new TJSONNumber(TJSONNumber::FromTextTag{}, std::string(str, length))));
    }
    bool String(const char* str, rapidjson::SizeType length, bool)
    {
        if (!CheckSurrogates(str, length)) return false;
        return Add(std::make_unique<TJSONString>(std::string(str, length)));
    }
    bool Key(const char* str, rapidjson::SizeType length, bool)
    {
        if (!CheckSurrogates(str, length)) return false;
        FKey.assign(str, length);
        return true;
    }
    bool StartObject() { return Open(std::make_unique<TJSONObject>()); }
    bool EndObject(rapidjson::SizeType)
    {
        FStack.pop_back();
        return true;
    }
    bool StartArray() { return Open(std::make_unique<TJSONArray>()); }
    bool EndArray(rapidjson::SizeType)
    {
        FStack.pop_back();
        return true;
    }

private:
    bool CheckSurrogates(const char* str, size_t length)
    {
        if (HasEncodedSurrogate(str, length)) LoneSurrogate = true;
        return !LoneSurrogate;
    }

    bool Open(std::unique_ptr<TJSONValue> container)
    {
        if (FStack.size() >= static_cast<size_t>(JSONMaxDepth)) {
            TooDeep = true;
            return false;
        }
        TJSONValue* raw = container.get();
        Add(std::move(container));
        FStack.push_back(raw);
        return true;
    }

    bool Add(std::unique_ptr<TJSONValue> value)
    {
        if (FStack.empty()) {
            Root = std::move(value);
        } else if (FStack.back()->Kind() == TJSONValue::TKind::Array) {
            static_cast<TJSONArray*>(FStack.back())->AddElement(std::move(value));
        } else {
            static_cast<TJSONObject*>(FStack.back())->AddPair(std::move(FKey), std::move(value));
            FKey.clear();
        }
        return true;
    }

    std::vector<TJSONValue*> FStack;
    std::string FKey;
};

namespace {

void CheckDepth(int depth)
{
    if (depth >= JSONMaxDepth) throw EJSONException(korvane::Format("JSON nesting deeper than %d levels", JSONMaxDepth));
}

template <typename W>
void WriteValue(W& w, const TJSONValue& v, int depth)
{
    using K = TJSONValue::TKind;
    bool ok = true;
    switch (v.Kind()) {
    case K::Null: ok = w.Null(); break;
    case K::True: ok = w.Bool(true); break;
    case K::False: ok = w.Bool(false); break;
    case K::Number: {
        const std::string& t = static_cast<const TJSONNumber&>(v).Text();
        ok = w.RawValue(t.data(), t.size(), rapidjson::kNumberType);
        break;
    }
    case K::String: {
        const std::string& t = static_cast<const TJSONString&>(v).Text();
        if (!IsValidUTF8(t)) throw EJSONException("Invalid UTF-8 in a JSON string");
        ok = w.String(t.data(), static_cast<rapidjson::SizeType>(t.size()));
        break;
    }
    case K::Array: {
        CheckDepth(depth);
        w.StartArray();
        for (const auto& item : static_cast<const TJSONArray&>(v)) WriteValue(w, *item, depth + 1);
        ok = w.EndArray();
        break;
    }
    case K::Object: {
        CheckDepth(depth);
        w.StartObject();
        for (const auto& pair : static_cast<const TJSONObject&>(v)) {
            if (!IsValidUTF8(pair.Name())) throw EJSONException("Invalid UTF-8 in a JSON pair name");
            if (!w.Key(pair.Name().data(), static_cast<rapidjson::SizeType>(pair.Name().size())))
                throw EJSONException("Writing JSON failed");
            WriteValue(w, *pair.JsonValue(), depth + 1);
        }
        ok = w.EndObject();
        break;
    }
    }
    if (!ok) throw EJSONException("Writing JSON failed");
}

void CheckStringSize(size_t size)
{
    // The writer counts string lengths in 32 bits.
    if (size > 0xFFFFFFFFu) throw EJSONException("JSON string too long");
}

} // namespace

// ---- TJSONValue ----

void TJSONValue::RaiseConversion(const char* target) const
{
    throw EJSONException(korvane::Format("Conversion from %s to %s is not supported", ClassName(), target));
}

std::string TJSONValue::ToJSON() const
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    WriteValue(writer, *this, 0);
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string TJSONValue::Format(int Indentation) const
{
    if (Indentation <= 0) return ToJSON();
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', static_cast<unsigned>(Indentation));
    WriteValue(writer, *this, 0);
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::unique_ptr<TJSONValue> TJSONValue::ParseJSONValue(std::string_view Text)
{
    constexpr unsigned flags = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag |
                               rapidjson::kParseValidateEncodingFlag;
    rapidjson::MemoryStream stream(Text.data(), Text.size());
    TJSONBuilder builder;
    rapidjson::Reader reader;
    const rapidjson::ParseResult result = reader.Parse<flags>(stream, builder);
    if (builder.TooDeep)
        throw EJSONParseException(korvane::Format("JSON nesting deeper than %d levels at offset %d", JSONMaxDepth,
                                         static_cast<int64_t>(result.Offset())),
                                  result.Offset());
    if (builder.LoneSurrogate || result.Code() == rapidjson::kParseErrorStringUnicodeSurrogateInvalid) {
        // The reader stops at a lone high surrogate, and the builder at the end
        // of a string holding a lone low one: the first lone escape in the text
        // up to there is the fault.
        const size_t end = builder.LoneSurrogate ? Text.size() : result.Offset();
        size_t offset = LoneSurrogateOffset(Text.substr(0, end));
        if (offset == end) offset = result.Offset();
        throw EJSONParseException(korvane::Format("Invalid JSON at offset %d: %s", static_cast<int64_t>(offset),
                                                  rapidjson::GetParseError_En(rapidjson::kParseErrorStringUnicodeSurrogateInvalid)),
                                  offset);
    }
    if (result.IsError())
        throw EJSONParseException(korvane::Format("Invalid JSON at offset %d: %s", static_cast<int64_t>(result.Offset()),
                                         rapidjson::GetParseError_En(result.Code())),
                                  result.Offset());
    // The reader takes a zero byte for the end of its input; one inside the
    // text would otherwise hide whatever follows it.
    if (stream.Tell() != Text.size())
        throw EJSONParseException(
            korvane::Format("Invalid JSON at offset %d: unexpected zero byte", static_cast<int64_t>(stream.Tell())),
            stream.Tell());
    return std::move(builder.Root);
}

// ---- TJSONNumber ----

std::string TJSONNumber::FloatText(double value)
{
    if (!std::isfinite(value)) throw EJSONException("NaN and infinite values have no JSON number form");
    std::string text = FloatToStrGeneral(value, 15);
    // Next to the largest doubles 15 digits round up past the double range
    // and would not read back; 17 digits always give the value itself.
    double back = 0;
    if (!TryStrToFloat(text, back) || !std::isfinite(back)) text = FloatToStrGeneral(value, 17);
    return text;
}

std::unique_ptr<TJSONNumber> TJSONNumber::FromText(std::string_view text)
{
    if (!IsJSONNumberText(text)) throw EJSONException(korvane::Format("'%s' is not a JSON number", std::string(text)));
    return std::unique_ptr<TJSONNumber>(new TJSONNumber(FromTextTag{}, std::string(text)));
}

double TJSONNumber::AsDouble() const { return StrToFloat(FValue); }
int TJSONNumber::AsInt() const { return StrToInt(FValue); }
int64_t TJSONNumber::AsInt64() const { return StrToInt64(FValue); }

// ---- TJSONBool ----

std::unique_ptr<TJSONBool> TJSONBool::Create(bool value)
{
    if (value) return std::make_unique<TJSONTrue>();
    return std::make_unique<TJSONFalse>();
}

// ---- TJSONArray ----

TJSONValue* TJSONArray::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw EJSONException(korvane::Format("JSON array index %d out of bounds (%d)", index, Count()));
    return FItems[static_cast<size_t>(index)].get();
}

TJSONArray& TJSONArray::AddElement(std::unique_ptr<TJSONValue> value)
{
    if (!value) throw EJSONException("A JSON array element cannot be nil");
    FItems.push_back(std::move(value));
    return *this;
}

TJSONArray& TJSONArray::Add(const std::string& value)
{
    CheckStringSize(value.size());
    return AddElement(std::make_unique<TJSONString>(value));
}

// ---- TJSONPair / TJSONObject ----

TJSONPair::TJSONPair(std::string name, std::unique_ptr<TJSONValue> value)
    : FName(std::move(name)), FValue(std::move(value))
{
    if (!FValue) throw EJSONException("A JSON pair value cannot be nil");
    CheckStringSize(FName.size());
}

std::unique_ptr<TJSONObject> TJSONObject::ParseJSONObject(std::string_view Text)
{
    auto value = ParseJSONValue(Text);
    if (value->Kind() != TKind::Object) throw EJSONParseException("The JSON text does not hold an object", 0);
    return std::unique_ptr<TJSONObject>(static_cast<TJSONObject*>(value.release()));
}

const TJSONPair& TJSONObject::Pairs(int index) const
{
    if (index < 0 || index >= Count())
        throw EJSONException(korvane::Format("JSON pair index %d out of bounds (%d)", index, Count()));
    return FPairs[static_cast<size_t>(index)];
}

const TJSONPair* TJSONObject::Get(std::string_view Name) const
{
    for (const auto& pair : FPairs)
        if (pair.Name() == Name) return &pair;
    return nullptr;
}

TJSONValue* TJSONObject::GetValue(std::string_view Name) const
{
    const TJSONPair* pair = Get(Name);
    return pair ? pair->JsonValue() : nullptr;
}

TJSONObject& TJSONObject::AddPair(std::string Name, std::unique_ptr<TJSONValue> Value)
{
    FPairs.emplace_back(std::move(Name), std::move(Value));
    return *this;
}

TJSONObject& TJSONObject::AddPair(std::string Name, const std::string& Value)
{
    CheckStringSize(Value.size());
    return AddPair(std::move(Name), std::make_unique<TJSONString>(Value));
}

} // namespace korvane
