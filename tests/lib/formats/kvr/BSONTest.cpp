#include <gtest/gtest.h>

#include "TestHelpers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <functional>

#include "Korvane.BSON.Writer.h"
#include "Korvane.JSON.BSON.h"
#include "Platform.JSON.h"
#include "Platform.Streams.h"

using namespace korvane;
using namespace korvane::test;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Hex(std::string_view text)
{
    Bytes bytes;
    for (size_t i = 0; i + 1 < text.size() + 1;) {
        while (i < text.size() && text[i] == ' ') ++i;
        if (i >= text.size()) break;
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
        i += 2;
    }
    return bytes;
}

std::string HexOf(std::span<const uint8_t> bytes)
{
    std::string text;
    char digits[4];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof(digits), "%02X ", b);
        text += digits;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

Bytes WriteJsonText(std::string_view json)
{
    auto object = TJSONObject::ParseJSONObject(json);
    TBytesStream stream;
    TKorvaneBSONWriter writer(&stream);
    writer.WriteJsonObject(object.get());
    return stream.Bytes();
}

Bytes WriteTokens(const std::function<void(TBsonWriter&)>& write)
{
    TBytesStream stream;
    {
        TBsonWriter writer(&stream);
        write(writer);
    }
    return stream.Bytes();
}

// The current token with its value, as one text.
std::string Describe(const TJsonReader& r)
{
    const std::string name = JsonTokenName(r.TokenType());
    switch (r.TokenType()) {
    case TJsonToken::PropertyName:
    case TJsonToken::String: return name + " " + std::string(r.AsString());
    case TJsonToken::Integer: return name + " " + std::to_string(r.AsInteger());
    case TJsonToken::Float: {
        char text[32];
        auto end = std::to_chars(text, text + sizeof(text), r.AsFloat()).ptr;
        return name + " " + std::string(text, end);
    }
    case TJsonToken::Boolean: return name + (r.AsBoolean() ? " true" : " false");
    case TJsonToken::Date: return name + " " + std::to_string(r.AsDateTime().time_since_epoch().count());
    case TJsonToken::Bytes:
        return name + " " + std::to_string(static_cast<int>(r.BinaryType())) + ":" + HexOf(r.AsBytes());
    case TJsonToken::Oid: return name + " " + HexOf(r.AsOid().Bytes);
    case TJsonToken::RegEx: return name + " /" + r.AsRegEx().Expression + "/" + r.AsRegEx().Options;
    case TJsonToken::DBRef: return name + " " + r.AsDBRef().Ref + " " + HexOf(r.AsDBRef().Id.Bytes);
    case TJsonToken::CodeWScope: {
        std::string text = name + " " + r.AsCodeWScope().Code;
        for (const auto& [n, v] : r.AsCodeWScope().Scope) text += " " + n + "=" + v;
        return text;
    }
    default: return name;
    }
}

struct TReadResult {
    std::vector<std::string> Tokens;
    bool Incomplete = false;
};

TReadResult ReadAll(TStream& stream, bool asArray = false)
{
    TBsonReader reader(&stream, asArray);
    TReadResult result;
    while (reader.Read()) result.Tokens.push_back(Describe(reader));
    EXPECT_EQ(reader.TokenType(), TJsonToken::None);
    result.Incomplete = reader.Incomplete();
    return result;
}

TReadResult ReadAll(const Bytes& bytes, bool asArray = false)
{
    TBytesStream stream(bytes);
    return ReadAll(stream, asArray);
}

using Tokens = std::vector<std::string>;

} // namespace

TEST(BSONWriter, ObjectModelGivesTheExactBytes)
{
    struct Case {
        const char* json;
        const char* bytes;
    } cases[] = {
        {R"({"a": 1})", "10 00 00 00 01 61 00 00 00 00 00 00 00 F0 3F 00"},
        {R"({"b": [true, null]})", "14 00 00 00 04 62 00 0C 00 00 00 08 30 00 01 0A 31 00 00 00"},
        {"{}", "05 00 00 00 00"},
        // A two-byte character: length 3 (two bytes and the terminator).
        {"{\"s\": \"\xC3\xA9\"}", "0F 00 00 00 02 73 00 03 00 00 00 C3 A9 00 00"},
        {R"({"o": {"f": false}, "x": "", "n": -2.5E1})",
         "24 00 00 00 03 6F 00 09 00 00 00 08 66 00 00 00 02 78 00 01 00 00 00 00 01 6E 00 00 00 00 00 00 00 39 C0 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(HexOf(WriteJsonText(c.json)), c.bytes);
    }
}

TEST(BSONReader, DeliversTokensAndEndsWithFalse)
{
    TBytesStream stream(Hex("10 00 00 00 01 61 00 00 00 00 00 00 00 F0 3F 00"));
    TBsonReader reader(&stream);
    std::vector<std::string> tokens;
    while (reader.Read()) tokens.push_back(Describe(reader));
    EXPECT_EQ(tokens, (Tokens{"StartObject", "PropertyName a", "Float 1", "EndObject"}));
    EXPECT_EQ(reader.TokenType(), TJsonToken::None);
    EXPECT_FALSE(reader.Read()) << "stays at the end";
    EXPECT_FALSE(reader.Incomplete());
    EXPECT_EQ(stream.Position(), 16);
}

TEST(BSONReader, RootAsArrayDropsTheNames)
{
    const TReadResult r = ReadAll(Hex("14 00 00 00 04 62 00 0C 00 00 00 08 30 00 01 0A 31 00 00 00"), true);
    EXPECT_EQ(r.Tokens, (Tokens{"StartArray", "StartArray", "Boolean true", "Null", "EndArray", "EndArray"}));
    EXPECT_FALSE(r.Incomplete);
}

TEST(BSONReader, IntegersKeepTheirKindOnlyThroughTheTokenWriter)
{
    const Bytes tokens = WriteTokens([](TBsonWriter& w) {
        w.WriteStartObject();
        w.WritePropertyName("n");
        w.WriteValue(int64_t(7));
        w.WriteEndObject();
    });
    EXPECT_EQ(ReadAll(tokens).Tokens, (Tokens{"StartObject", "PropertyName n", "Integer 7", "EndObject"}));
    EXPECT_EQ(ReadAll(WriteJsonText(R"({"n": 7})")).Tokens,
              (Tokens{"StartObject", "PropertyName n", "Float 7", "EndObject"}));
}

TEST(BSONReader, DateTimesKeepWholeSeconds)
{
    using namespace std::chrono;
    const TJsonDateTime when{milliseconds(1'700'000'000'500)};
    const Bytes bytes = WriteTokens([&](TBsonWriter& w) {
        w.WriteStartArray();
        w.WriteValue(when);
        w.WriteValue(TJsonDateTime{milliseconds(-1'500)});
        w.WriteEndArray();
    });
    // Stored as whole seconds in milliseconds; read back without the 500 ms.
    EXPECT_EQ(HexOf(std::span(bytes).subspan(7, 8)), "00 68 E5 CF 8B 01 00 00");
    EXPECT_EQ(ReadAll(bytes, true).Tokens,
              (Tokens{"StartArray", "Date 1700000000000", "Date -2000", "EndArray"}));
    // A stored value with milliseconds also reads as whole seconds.
    EXPECT_EQ(ReadAll(Hex("10 00 00 00 09 30 00 F4 01 00 00 00 00 00 00 00"), true).Tokens,
              (Tokens{"StartArray", "Date 0", "EndArray"}));
}

// Every element type the writer writes reads back as the value written.
TEST(BSONReader, EveryElementTypeReadsBackWhatWasWritten)
{
    TJsonOid oid;
    for (int i = 0; i < 12; ++i) oid.Bytes[i] = static_cast<uint8_t>(0xA0 + i);
    const Bytes blob{0x00, 0xFF, 0x10};
    TGUID guid;
    guid.D1 = 0x01020304;
    guid.D2 = 0x0506;
    guid.D3 = 0x0708;
    for (int i = 0; i < 8; ++i) guid.D4[i] = static_cast<uint8_t>(0x09 + i);

    struct Case {
        const char* name;
        std::function<void(TBsonWriter&)> write;
        std::string read;
        uint8_t type;
    } cases[] = {
        {"double", [](TBsonWriter& w) { w.WriteValue(-0.125); }, "Float -0.125", 0x01},
        {"single", [](TBsonWriter& w) { w.WriteValue(0.5f); }, "Float 0.5", 0x01},
        {"string", [](TBsonWriter& w) { w.WriteValue(std::string("h\0i", 3)); }, std::string("String h\0i", 10), 0x02},
        {"character", [](TBsonWriter& w) { w.WriteValue('c'); }, "String c", 0x02},
        {"binary", [&](TBsonWriter& w) { w.WriteValue(blob, TJsonBinaryType::Generic); }, "Bytes 0:00 FF 10", 0x05},
        {"user binary", [&](TBsonWriter& w) { w.WriteValue(blob, TJsonBinaryType::UserDefined); },
         "Bytes 128:00 FF 10", 0x05},
        {"old binary", [&](TBsonWriter& w) { w.WriteValue(blob, TJsonBinaryType::BinaryOld); },
         "Bytes 2:00 FF 10", 0x05},
        {"guid", [&](TBsonWriter& w) { w.WriteValue(guid); },
         "Bytes 4:04 03 02 01 06 05 08 07 09 0A 0B 0C 0D 0E 0F 10", 0x05},
        {"undefined", [](TBsonWriter& w) { w.WriteUndefined(); }, "Undefined", 0x06},
        {"object id", [&](TBsonWriter& w) { w.WriteValue(oid); }, "Oid A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB", 0x07},
        {"true", [](TBsonWriter& w) { w.WriteValue(true); }, "Boolean true", 0x08},
        {"false", [](TBsonWriter& w) { w.WriteValue(false); }, "Boolean false", 0x08},
        {"date", [](TBsonWriter& w) { w.WriteValue(TJsonDateTime{std::chrono::seconds(86400)}); }, "Date 86400000",
         0x09},
        {"null", [](TBsonWriter& w) { w.WriteNull(); }, "Null", 0x0A},
        {"regex", [](TBsonWriter& w) { w.WriteValue(TJsonRegEx{"^a+$", "im"}); }, "RegEx /^a+$/im", 0x0B},
        {"db pointer", [&](TBsonWriter& w) { w.WriteValue(TJsonDBRef{"coll", oid}); },
         "DBRef coll A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB", 0x0C},
        {"code", [](TBsonWriter& w) { w.WriteCode("f()"); }, "String f()", 0x0D},
        {"code with scope", [](TBsonWriter& w) { w.WriteValue(TJsonCodeWScope{"x+y", {{"x", "1"}, {"y", "two"}}}); },
         "CodeWScope x+y x=1 y=two", 0x0F},
        {"empty scope", [](TBsonWriter& w) { w.WriteValue(TJsonCodeWScope{"", {}}); }, "CodeWScope ", 0x0F},
        {"int32", [](TBsonWriter& w) { w.WriteValue(int32_t(-5)); }, "Integer -5", 0x10},
        {"byte", [](TBsonWriter& w) { w.WriteValue(uint8_t(200)); }, "Integer 200", 0x10},
        {"cardinal", [](TBsonWriter& w) { w.WriteValue(uint32_t(0xFFFFFFFE)); }, "Integer -2", 0x10},
        {"int64", [](TBsonWriter& w) { w.WriteValue(int64_t(-1) << 40); }, "Integer -1099511627776", 0x12},
        {"uint64", [](TBsonWriter& w) { w.WriteValue(uint64_t(1) << 63); }, "Integer -9223372036854775808", 0x12},
        {"max key", [](TBsonWriter& w) { w.WriteMaxKey(); }, "MaxKey", 0x7F},
        {"min key", [](TBsonWriter& w) { w.WriteMinKey(); }, "MinKey", 0xFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = WriteTokens([&](TBsonWriter& w) {
            w.WriteStartObject();
            w.WritePropertyName("v");
            c.write(w);
            w.WritePropertyName("after");
            w.WriteValue(int32_t(1));
            w.WriteEndObject();
        });
        ASSERT_GT(bytes.size(), 5u);
        EXPECT_EQ(bytes[4], c.type);
        EXPECT_EQ(ReadAll(bytes).Tokens,
                  (Tokens{"StartObject", "PropertyName v", c.read, "PropertyName after", "Integer 1", "EndObject"}));
    }
}

TEST(BSONReader, SymbolsAndTimestampsReadAsStringsAndIntegers)
{
    const TReadResult r =
        ReadAll(Hex("1A 00 00 00 0E 73 00 03 00 00 00 61 62 00 11 74 00 01 00 00 00 02 00 00 00 00"));
    EXPECT_EQ(r.Tokens, (Tokens{"StartObject", "PropertyName s", "String ab", "PropertyName t", "Integer 8589934593",
                                "EndObject"}));
}

TEST(BSONReader, NestedContainersAndSkip)
{
    const Bytes bytes = WriteJsonText(R"({"a": {"x": [1, {"y": "z"}], "s": "long text"}, "b": true, "c": "str"})");
    EXPECT_EQ(ReadAll(bytes).Tokens,
              (Tokens{"StartObject", "PropertyName a", "StartObject", "PropertyName x", "StartArray", "Float 1",
                      "StartObject", "PropertyName y", "String z", "EndObject", "EndArray", "PropertyName s",
                      "String long text", "EndObject", "PropertyName b", "Boolean true", "PropertyName c",
                      "String str", "EndObject"}));

    TBytesStream stream(bytes);
    TBsonReader reader(&stream);
    ASSERT_TRUE(reader.Read());
    ASSERT_TRUE(reader.Read());
    ASSERT_EQ(Describe(reader), "PropertyName a");
    reader.Skip();
    EXPECT_EQ(reader.TokenType(), TJsonToken::EndObject);
    EXPECT_EQ(reader.Depth(), 1);
    ASSERT_TRUE(reader.Read());
    EXPECT_EQ(Describe(reader), "PropertyName b");
    reader.Skip();
    EXPECT_EQ(Describe(reader), "Boolean true");
    ASSERT_TRUE(reader.Read());
    reader.Skip();
    EXPECT_EQ(Describe(reader), "String str");
    ASSERT_TRUE(reader.Read());
    EXPECT_EQ(reader.TokenType(), TJsonToken::EndObject);
    EXPECT_FALSE(reader.Read());
}

namespace {

bool SameNumber(const TJSONValue& a, const TJSONValue& b)
{
    return a.As<TJSONNumber>().AsDouble() == b.As<TJSONNumber>().AsDouble();
}

// The first difference between two values, or "" when they are equal (numbers as values).
std::string Difference(const TJSONValue& a, const TJSONValue& b, const std::string& path)
{
    if (a.Kind() != b.Kind()) return path + ": " + a.ClassName() + " vs " + b.ClassName();
    switch (a.Kind()) {
    case TJSONValue::TKind::Number: return SameNumber(a, b) ? "" : path + ": " + a.Value() + " vs " + b.Value();
    case TJSONValue::TKind::String: return a.Value() == b.Value() ? "" : path + ": " + a.Value() + " vs " + b.Value();
    case TJSONValue::TKind::Array: {
        const auto& x = a.As<TJSONArray>();
        const auto& y = b.As<TJSONArray>();
        if (x.Count() != y.Count()) return path + ": array sizes differ";
        for (int i = 0; i < x.Count(); ++i)
            if (auto d = Difference(*x.Items(i), *y.Items(i), path + "[" + std::to_string(i) + "]"); !d.empty())
                return d;
        return "";
    }
    case TJSONValue::TKind::Object: {
        const auto& x = a.As<TJSONObject>();
        const auto& y = b.As<TJSONObject>();
        if (x.Count() != y.Count()) return path + ": object sizes differ";
        for (int i = 0; i < x.Count(); ++i) {
            if (x.Pairs(i).Name() != y.Pairs(i).Name()) return path + ": name " + std::string(x.Pairs(i).Name());
            if (auto d = Difference(*x.Pairs(i).JsonValue(), *y.Pairs(i).JsonValue(), path + "." + std::string(x.Pairs(i).Name()));
                !d.empty())
                return d;
        }
        return "";
    }
    default: return "";
    }
}

std::unique_ptr<TJSONValue> ReadObjectModel(const Bytes& bytes)
{
    TBytesStream stream(bytes);
    TBsonReader reader(&stream);
    TJsonObjectWriter builder;
    while (reader.Read()) builder.WriteToken(reader);
    EXPECT_FALSE(reader.Incomplete());
    EXPECT_TRUE(builder.Complete());
    return builder.ExtractRoot();
}

} // namespace

TEST(BSONWriter, ObjectModelOfEveryKindReadsBackEqual)
{
    const std::string json = R"({
        "null": null, "true": true, "false": false,
        "numbers": [0, -0, 1, -17, 2147483648, 9007199254740993, 0.1, 1.5e-7, -2.25E+300, 123456789.123456789],
        "strings": ["", "plain", "tab\tand \"quotes\"", "nul\u0000inside", "\u00e9\u4e2d\ud83d\ude00"],
        "empty object": {}, "empty array": [],
        "nested": {"deeper": [[{"a": [null]}]], "Type": "x", "Type": "repeated name"},
        "": "empty name"
    })";
    const auto original = TJSONObject::ParseJSONObject(json);
    TBytesStream stream;
    {
        TKorvaneBSONWriter writer(&stream);
        writer.WriteJsonObject(original.get());
    }
    const auto copy = ReadObjectModel(stream.Bytes());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Difference(*original, *copy, "$"), "");
    // Doubles come back in their shortest exact text.
    EXPECT_EQ(copy->As<TJSONObject>().GetValue("numbers")->As<TJSONArray>().Items(6)->Value(), "0.1");
}

TEST(BSONWriter, NumberTextsThatReadAsNothingRaise)
{
    TBytesStream stream;
    TKorvaneBSONWriter writer(&stream);
    TJSONObject object;
    object.AddPair("n", TJSONNumber::FromText("1e400"));
    EXPECT_EQ(MessageOf([&] { writer.WriteJsonObject(&object); }), "failed to read number value");
    EXPECT_EQ(MessageOf([&] { writer.WriteJsonValue(nullptr); }), "unexpected json value type \"nil\" found");
}

TEST(BSONWriter, RawValuesWriteOnlyTheirBytes)
{
    TJSONArray values;
    values.Add(TJSONNumber::FromText("2"));
    values.Add(std::make_unique<TJSONTrue>());
    values.Add(std::make_unique<TJSONFalse>());
    values.Add(std::make_unique<TJSONNull>());
    values.Add("ab");
    TBytesStream stream;
    {
        TKorvaneBSONWriter writer(&stream);
        writer.WriteStartObject();
        for (const auto& v : values) writer.WriteRawJsonValue(v.get());
        EXPECT_EQ(MessageOf([&] { writer.WriteRawJsonValue(&values); }), "raw bson for json-array not supported");
        TJSONObject object;
        EXPECT_EQ(MessageOf([&] { writer.WriteRawJsonValue(&object); }), "raw bson for json-object not supported");
        writer.WriteEndObject();
    }
    EXPECT_EQ(HexOf(stream.Bytes()), "16 00 00 00 00 00 00 00 00 00 00 40 01 00 03 00 00 00 61 62 00 00");
}

TEST(BSONWriter, EmptyValuesAreLeftOutWhenAskedTo)
{
    for (auto handling : {TJsonEmptyValueHandling::Empty, TJsonEmptyValueHandling::Null}) {
        const Bytes bytes = WriteTokens([&](TBsonWriter& w) {
            w.SetEmptyValueHandling(handling);
            w.WriteStartArray();
            w.WriteValue("");
            w.WriteValue(std::span<const uint8_t>(), TJsonBinaryType::Generic);
            w.WriteValue("x");
            w.WriteEndArray();
        });
        if (handling == TJsonEmptyValueHandling::Empty)
            EXPECT_EQ(ReadAll(bytes, true).Tokens, (Tokens{"StartArray", "String ", "Bytes 0:", "String x", "EndArray"}));
        else
            EXPECT_EQ(HexOf(bytes), "0E 00 00 00 02 30 00 02 00 00 00 78 00 00");
    }
}

TEST(BSONWriter, RefusesWhatBSONCannotHold)
{
    struct Case {
        const char* name;
        std::function<void(TBsonWriter&)> write;
        const char* message;
    } cases[] = {
        {"comment", [](TBsonWriter& w) { w.WriteComment("c"); }, "JSON-Kommentar kann nicht als BSON geschrieben werden"},
        {"constructor", [](TBsonWriter& w) { w.WriteStartConstructor("Date"); },
         "JSON-Konstruktor kann nicht als BSON geschrieben werden"},
        {"raw", [](TBsonWriter& w) { w.WriteRaw("1"); }, "Roh-JSON kann nicht als BSON geschrieben werden"},
        {"raw value", [](TBsonWriter& w) { w.WriteRawValue("1"); }, "Roh-JSON kann nicht als BSON geschrieben werden"},
        {"name with a zero", [](TBsonWriter& w) { w.WritePropertyName(std::string("a\0b", 3)); },
         "A BSON name cannot hold a zero character"},
        {"regex with a zero", [](TBsonWriter& w) { w.WritePropertyName("r"); w.WriteValue(TJsonRegEx{std::string("a\0", 2), ""}); },
         "A BSON regular expression cannot hold a zero character"},
        {"value without a name", [](TBsonWriter& w) { w.WriteValue(1.0); },
         "Token Float in state ObjectStart would result in an invalid JSON object"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TBytesStream stream;
        TBsonWriter writer(&stream);
        writer.WriteStartObject();
        EXPECT_EQ(MessageOf<EJsonWriterException>([&] { c.write(writer); }), c.message);
    }
    TBytesStream stream;
    TBsonWriter writer(&stream);
    EXPECT_EQ(MessageOf<EJsonWriterException>([&] { writer.WriteValue(1.0); }),
              "A BSON value needs an object or an array around it");
    EXPECT_EQ(stream.Size(), 0);
}

TEST(BSONWriter, NestingBeyondTheBoundRaises)
{
    TBytesStream stream;
    TBsonWriter writer(&stream);
    for (int i = 0; i < BsonMaxDepth; ++i) writer.WriteStartArray();
    EXPECT_EQ(MessageOf<EJsonWriterException>([&] { writer.WriteStartArray(); }), "BSON nesting deeper than 1000 levels");
}

TEST(BSONWriter, FlushCompletesTheDocumentSoFarAndWritingGoesOn)
{
    TBytesStream stream;
    TBsonWriter writer(&stream);
    writer.WriteStartObject();
    writer.WritePropertyName("a");
    writer.WriteStartObject();
    writer.WritePropertyName("b");
    writer.WriteValue(int32_t(1));
    writer.WritePropertyName("c");
    writer.Flush();
    EXPECT_EQ(ReadAll(stream.Bytes()).Tokens,
              (Tokens{"StartObject", "PropertyName a", "StartObject", "PropertyName b", "Integer 1", "PropertyName c",
                      "Null", "EndObject", "EndObject"}));
    writer.WriteValue("text");
    writer.WriteEndObject();
    writer.WritePropertyName("d");
    writer.WriteValue(false);
    writer.WriteEndObject();
    const TReadResult r = ReadAll(stream.Bytes());
    EXPECT_EQ(r.Tokens, (Tokens{"StartObject", "PropertyName a", "StartObject", "PropertyName b", "Integer 1",
                                "PropertyName c", "String text", "EndObject", "PropertyName d", "Boolean false",
                                "EndObject"}));
    EXPECT_EQ(stream.Size(), stream.Bytes()[0]) << "no provisional bytes are left behind";
}

TEST(BSONWriter, DestructionEndsOpenContainers)
{
    const Bytes bytes = WriteTokens([](TBsonWriter& w) {
        w.WriteStartObject();
        w.WritePropertyName("list");
        w.WriteStartArray();
        w.WriteValue(int32_t(3));
        w.WriteStartObject();
        w.WritePropertyName("pending");
    });
    EXPECT_EQ(ReadAll(bytes).Tokens,
              (Tokens{"StartObject", "PropertyName list", "StartArray", "Integer 3", "StartObject",
                      "PropertyName pending", "Null", "EndObject", "EndArray", "EndObject"}));
}

TEST(BSONReader, DocumentsFollowingEachOtherInAFile)
{
    TempFolder folder;
    const std::string file = folder.Path("two.bson");
    {
        TFileStream stream(file, fmCreate);
        TKorvaneBSONWriter writer(&stream);
        auto first = TJSONObject::ParseJSONObject(R"({"a": "one"})");
        auto second = TJSONObject::ParseJSONObject(R"({"b": [2]})");
        writer.WriteJsonObject(first.get());
        writer.WriteJsonObject(second.get());
    }
    TFileStream stream(file, fmOpenRead);
    EXPECT_EQ(ReadAll(stream).Tokens, (Tokens{"StartObject", "PropertyName a", "String one", "EndObject"}));
    EXPECT_EQ(stream.Position(), 16) << "the stream stands after the first document";
    EXPECT_EQ(ReadAll(stream).Tokens,
              (Tokens{"StartObject", "PropertyName b", "StartArray", "Float 2", "EndArray", "EndObject"}));
    EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(BSONReader, DataEndingInsideTheDocumentReturnsFalse)
{
    const Bytes blob{1, 2, 3};
    const Bytes whole = WriteTokens([&](TBsonWriter& w) {
        w.WriteStartObject();
        w.WritePropertyName("a");
        w.WriteValue(1.0);
        w.WritePropertyName("s");
        w.WriteValue("text");
        w.WritePropertyName("o");
        w.WriteStartObject();
        w.WritePropertyName("b");
        w.WriteValue(blob, TJsonBinaryType::BinaryOld);
        w.WritePropertyName("c");
        w.WriteValue(TJsonCodeWScope{"c", {{"k", "v"}}});
        w.WritePropertyName("r");
        w.WriteValue(TJsonRegEx{"p", "o"});
        w.WriteEndObject();
        w.WriteEndObject();
    });
    // Cut after the first element: the document never ends.
    const TReadResult cut = ReadAll(Bytes(whole.begin(), whole.begin() + 16));
    EXPECT_EQ(cut.Tokens, (Tokens{"StartObject", "PropertyName a", "Float 1"}));
    EXPECT_TRUE(cut.Incomplete);

    // Every shorter prefix ends the same way: no fault, no end token for the root.
    const Tokens all = ReadAll(whole).Tokens;
    for (size_t size = 0; size < whole.size(); ++size) {
        SCOPED_TRACE(size);
        // An exact-size copy, so that reading past it is caught.
        TBytesStream stream(Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(size)));
        TReadResult r;
        ASSERT_NO_THROW(r = ReadAll(stream));
        EXPECT_TRUE(r.Incomplete);
        ASSERT_LT(r.Tokens.size(), all.size());
        EXPECT_TRUE(std::equal(r.Tokens.begin(), r.Tokens.end(), all.begin()));
    }
}

namespace {

// Containers nested Count deep (the root included), each the element "0" of the one around it.
Bytes NestedArrays(int count)
{
    Bytes inner = Hex("05 00 00 00 00");
    for (int i = 1; i < count; ++i) {
        Bytes outer(4);
        outer.insert(outer.end(), {0x04, '0', 0});
        outer.insert(outer.end(), inner.begin(), inner.end());
        outer.push_back(0);
        bson::StoreLE<int32_t>(outer.data(), static_cast<int32_t>(outer.size()));
        inner = std::move(outer);
    }
    return inner;
}

} // namespace

TEST(BSONReader, HostileInputRaisesNamingTheOffset)
{
    struct Case {
        const char* name;
        Bytes bytes;
        const char* message;
        int64_t offset;
    } cases[] = {
        {"terminator not zero", Hex("10 00 00 00 01 61 00 00 00 00 00 00 00 F0 3F 01"),
         "Unerwartetes Ende des Objekt-Byte-Wertes", 15},
        {"string length 0", Hex("0E 00 00 00 02 73 00 00 00 00 00 61 00 00"), "Invalid BSON string length 0", 7},
        {"string length negative", Hex("0E 00 00 00 02 73 00 FF FF FF FF 61 00 00"), "Invalid BSON string length -1", 7},
        {"string beyond its container", Hex("0E 00 00 00 02 73 00 03 00 00 00 61 00 00"),
         "BSON string length 3 runs past its container", 7},
        {"string without terminator", Hex("0E 00 00 00 02 73 00 02 00 00 00 61 62 00"), "BSON string without terminator",
         12},
        {"string not UTF-8", Hex("0E 00 00 00 02 73 00 02 00 00 00 FF 00 00"), "Invalid UTF-8 in a BSON string", 11},
        {"name without terminator", Hex("09 00 00 00 0A 61 62 63 00"), "BSON text without terminator", 5},
        {"name not UTF-8", Hex("08 00 00 00 0A C0 00 00"), "Invalid UTF-8 in a BSON text", 5},
        {"root length too small", Hex("04 00 00 00"), "BSON document length 4 does not fit its container", 0},
        {"root length short of its content", Hex("0C 00 00 00 01 61 00 00 00 00 00 00 00 F0 3F 00"),
         "BSON value of type 0x01 runs past the end of its container", 7},
        {"nested length beyond its container", Hex("0D 00 00 00 03 6F 00 06 00 00 00 00 00"),
         "BSON document length 6 does not fit its container", 7},
        {"nested length beyond its content", Hex("0E 00 00 00 04 6F 00 06 00 00 00 00 00 00"),
         "Unsupported BSON element type 0x00", 11},
        {"unsupported type", Hex("08 00 00 00 13 61 00 00"), "Unsupported BSON element type 0x13", 4},
        {"binary length negative", Hex("0D 00 00 00 05 62 00 FF FF FF FF 00 00"),
         "BSON binary length -1 does not fit its container", 7},
        {"old binary lengths disagree", Hex("15 00 00 00 05 62 00 08 00 00 00 02 03 00 00 00 01 02 03 04 00"),
         "BSON binary length 8 disagrees with its inner length 3", 7},
        {"old binary without its inner length", Hex("10 00 00 00 05 62 00 03 00 00 00 02 FF FF FF 00"),
         "BSON binary length 3 leaves no room for its inner length", 7},
        {"code with scope holding a number",
         Hex("22 00 00 00 0F 63 00 1A 00 00 00 02 00 00 00 78 00 10 00 00 00 01 6B 00 00 00 00 00 00 00 F0 3F 00 00"),
         "Fehler beim Lesen von Code mit Gültigkeitsbereich. Unerwartetes Token: Float", 21},
        {"code with scope lengths disagree",
         Hex("1B 00 00 00 0F 63 00 13 00 00 00 02 00 00 00 78 00 06 00 00 00 00 00 00 00 00 00"),
         "BSON code with scope length 19 disagrees with its scope length 6", 17},
        {"nesting deeper than the bound", NestedArrays(BsonMaxDepth + 1), "BSON nesting deeper than 1000 levels",
         7 * BsonMaxDepth},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TBytesStream stream(c.bytes);
        TBsonReader reader(&stream);
        try {
            while (reader.Read()) {
            }
            ADD_FAILURE() << "no exception";
        } catch (const EJsonReaderException& e) {
            EXPECT_EQ(e.Message(), std::string(c.message) + " (offset " + std::to_string(c.offset) + ")");
            EXPECT_EQ(e.Offset(), c.offset);
        }
        EXPECT_FALSE(reader.Read()) << "a reader that met a fault reads no further";
    }
    // A bound deep is still read.
    const TReadResult deepest = ReadAll(NestedArrays(BsonMaxDepth), true);
    EXPECT_EQ(deepest.Tokens.size(), 2u * BsonMaxDepth);
    EXPECT_FALSE(deepest.Incomplete);
}

TEST(BSONReader, OffsetsCountFromTheStreamStart)
{
    Bytes bytes = Hex("AA BB CC 10 00 00 00 01 61 00 00 00 00 00 00 00 F0 3F 01");
    TBytesStream stream(bytes);
    stream.SetPosition(3);
    TBsonReader reader(&stream);
    try {
        while (reader.Read()) {
        }
        ADD_FAILURE() << "no exception";
    } catch (const EJsonReaderException& e) {
        EXPECT_EQ(e.Offset(), 18);
    }
}

TEST(BSONReader, ALengthBeyondTheFileReadsWhatIsThere)
{
    TempFolder folder;
    const std::string file = folder.Path("claims.bson");
    {
        TFileStream stream(file, fmCreate);
        const Bytes bytes = Hex("F0 FF FF 7F 01 61 00 00 00 00 00 00 00 F0 3F");
        stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    }
    TFileStream stream(file, fmOpenRead);
    const TReadResult r = ReadAll(stream);
    EXPECT_EQ(r.Tokens, (Tokens{"StartObject", "PropertyName a", "Float 1"}));
    EXPECT_TRUE(r.Incomplete);
}

namespace {

// A stream that is not a memory stream, noting the largest read asked of it.
class TCountingStream : public TStream {
public:
    explicit TCountingStream(Bytes bytes) : FBytes(std::move(bytes)) {}
    int64_t Read(void* Buffer, int64_t Count) override
    {
        LargestRead = std::max(LargestRead, Count);
        const int64_t n = std::clamp<int64_t>(Size() - FPosition, 0, Count);
        if (n > 0) std::memcpy(Buffer, FBytes.data() + FPosition, static_cast<size_t>(n));
        FPosition += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override
    {
        return FPosition = NewPosition(Offset, Origin, FPosition, Size());
    }
    int64_t Size() const override { return static_cast<int64_t>(FBytes.size()); }
    void SetSize(int64_t) override {}
    int64_t Position() const override { return FPosition; }

    int64_t LargestRead = 0;

private:
    Bytes FBytes;
    int64_t FPosition = 0;
};

} // namespace

TEST(BSONReader, AsksNoMoreOfAStreamThanItHolds)
{
    // The length claims almost 2 GiB; the stream holds 15 bytes.
    TCountingStream stream(Hex("F0 FF FF 7F 01 61 00 00 00 00 00 00 00 F0 3F"));
    const TReadResult r = ReadAll(stream);
    EXPECT_EQ(r.Tokens, (Tokens{"StartObject", "PropertyName a", "Float 1"}));
    EXPECT_TRUE(r.Incomplete);
    EXPECT_LE(stream.LargestRead, stream.Size());
}
