#include <gtest/gtest.h>

#include "TestHelpers.h"

#include <clocale>
#include <cmath>
#include <limits>
#include <locale>

#include "Platform.JSON.h"

using namespace korvane;
using namespace korvane::test;

namespace {

std::unique_ptr<TJSONObject> ParseObject(std::string_view text) { return TJSONObject::ParseJSONObject(text); }

} // namespace

TEST(JSONObjectModel, RepeatedNamesKeepOrderAndFirstMatchWins)
{
    const std::string text = R"({"Type":"a","Id":"x","Type":"b"})";
    auto obj = ParseObject(text);
    ASSERT_EQ(obj->Count(), 3);
    EXPECT_EQ(obj->Pairs(0).Name(), "Type");
    EXPECT_EQ(obj->Pairs(0).JsonValue()->Value(), "a");
    EXPECT_EQ(obj->Pairs(1).Name(), "Id");
    EXPECT_EQ(obj->Pairs(2).Name(), "Type");
    EXPECT_EQ(obj->Pairs(2).JsonValue()->Value(), "b");
    ASSERT_NE(obj->GetValue("Type"), nullptr);
    EXPECT_EQ(obj->GetValue("Type")->Value(), "a");
    EXPECT_EQ(obj->GetValue("type"), nullptr) << "lookups compare letter case";
    EXPECT_EQ(obj->GetValue("Missing"), nullptr);
    EXPECT_EQ(obj->ToJSON(), text);

    // Pairs added by code repeat the same way.
    TJSONObject built;
    built.AddPair("Type", "a").AddPair("Id", "x").AddPair("Type", "b");
    EXPECT_EQ(built.ToJSON(), text);
}

TEST(JSONObjectModel, ValuesAddedToAReadDocumentBelongToIt)
{
    auto doc = ParseObject(R"({"a":[1,{"b":"x"}],"c":"y"})");
    auto& array = doc->GetValue("a")->As<TJSONArray>();
    auto& inner = array.Items(1)->As<TJSONObject>();

    // Adds to the root, to a nested object and to a nested array, whose read
    // lists are exactly full, with texts past the short-text size.
    doc->AddPair("a", "a second a, longer than sixteen bytes");
    inner.AddPair("name longer than sixteen bytes", std::make_unique<TJSONNumber>(2.5));
    auto built = std::make_unique<TJSONObject>();
    built->AddPair("k", "v");
    array.Add(std::move(built));
    for (int i = 0; i < 40; ++i) array.Add(std::make_unique<TJSONNumber>(i));

    ASSERT_EQ(array.Count(), 43);
    EXPECT_EQ(array.Items(42)->Value(), "39");
    EXPECT_EQ(doc->GetValue("a"), &array) << "the read pair still comes first";
    EXPECT_EQ(doc->Pairs(2).JsonValue()->Value(), "a second a, longer than sixteen bytes");
    std::string numbers;
    for (int i = 0; i < 40; ++i) numbers += "," + std::to_string(i);
    const std::string expected = R"({"a":[1,{"b":"x","name longer than sixteen bytes":2.5},{"k":"v"})" + numbers +
                                 R"(],"c":"y","a":"a second a, longer than sixteen bytes"})";
    EXPECT_EQ(doc->ToJSON(), expected);

    // A read document added to a built container goes on living inside it.
    TJSONArray outer;
    outer.Add(std::move(doc));
    outer.Add(TJSONValue::ParseJSONValue("[true]"));
    EXPECT_EQ(outer.ToJSON(), "[" + expected + ",[true]]");
}

TEST(JSONObjectModel, TextsBuiltByCodeKeepEveryByteAtEveryLength)
{
    for (size_t length : {0, 1, 15, 16, 17, 100}) {
        std::string text;
        for (size_t i = 0; i < length; ++i) text += static_cast<char>(i % 3 == 1 ? '\0' : 'a' + i % 26);
        const TJSONString string(text);
        EXPECT_EQ(string.Text(), text) << length;
        TJSONObject obj;
        obj.AddPair(text, text);
        auto back = ParseObject(obj.ToJSON());
        EXPECT_EQ(back->Pairs(0).Name(), text) << length;
        EXPECT_EQ(back->Pairs(0).JsonValue()->Value(), text) << length;
    }
    for (const char* number : {"1", "1234567890.123456", "1234567890.1234567", "-1.23456789012345678E-300"}) {
        EXPECT_EQ(TJSONNumber::FromText(number)->Text(), number);
        EXPECT_EQ(TJSONValue::ParseJSONValue(number)->Value(), number);
    }
}

TEST(JSONObjectModel, AScalarReadAloneIsAValueOfItsOwn)
{
    struct Case {
        const char* text;
        TJSONValue::TKind kind;
        const char* value;
    };
    const Case cases[] = {
        {R"( "a string longer than sixteen bytes" )", TJSONValue::TKind::String, "a string longer than sixteen bytes"},
        {"12.50", TJSONValue::TKind::Number, "12.50"},
        {"true", TJSONValue::TKind::True, "true"},
        {"false", TJSONValue::TKind::False, "false"},
        {" null ", TJSONValue::TKind::Null, "null"},
    };
    for (const auto& c : cases) {
        auto value = TJSONValue::ParseJSONValue(c.text);
        EXPECT_EQ(value->Kind(), c.kind) << c.text;
        EXPECT_EQ(value->Value(), c.value) << c.text;
        EXPECT_EQ(TJSONValue::ParseJSONValue(value->ToJSON())->Value(), c.value) << c.text;
    }
}

TEST(JSONObjectModel, NumbersKeepTheirText)
{
    for (const char* number : {"1E5", "1e+05", "1.50", "-0", "0.000", "-12.5E-3", "12345678901234567890123",
                               "0.349999994039536"}) {
        const std::string text = std::string("[") + number + "]";
        auto value = TJSONValue::ParseJSONValue(text);
        auto& array = value->As<TJSONArray>();
        ASSERT_EQ(array.Count(), 1);
        EXPECT_EQ(array.Items(0)->Value(), number);
        EXPECT_EQ(value->ToJSON(), text);
    }
}

TEST(JSONObjectModel, NumbersFromValuesUseTheGeneralFormatWhateverTheLocale)
{
    CommaDecimalLocale locale;
    ASSERT_TRUE(locale.Active()) << "the de_DE.UTF-8 locale is not installed";
    struct Case {
        std::unique_ptr<TJSONNumber> number;
        const char* text;
    };
    Case cases[] = {
        {std::make_unique<TJSONNumber>(0.35f), "0.349999994039536"},
        {std::make_unique<TJSONNumber>(1.0), "1"},
        {std::make_unique<TJSONNumber>(1.0f), "1"},
        {std::make_unique<TJSONNumber>(-2.5), "-2.5"},
        {std::make_unique<TJSONNumber>(0.1), "0.1"},
        {std::make_unique<TJSONNumber>(1e20), "1E20"},
        {std::make_unique<TJSONNumber>(123456789012345678.0), "1.23456789012346E17"},
        {std::make_unique<TJSONNumber>(-7), "-7"},
        {std::make_unique<TJSONNumber>(4294967295u), "4294967295"},
        {std::make_unique<TJSONNumber>(INT64_MIN), "-9223372036854775808"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(c.number->Value(), c.text);
        // Every text a value produces is a JSON number the reader takes back.
        auto back = TJSONValue::ParseJSONValue(c.number->ToJSON());
        EXPECT_EQ(back->Value(), c.text);
    }
    EXPECT_DOUBLE_EQ(TJSONNumber(0.25).AsDouble(), 0.25);
}

TEST(JSONObjectModel, NonFiniteValuesHaveNoNumberForm)
{
    EXPECT_THROW(TJSONNumber(std::numeric_limits<double>::quiet_NaN()), EJSONException);
    EXPECT_THROW(TJSONNumber(std::numeric_limits<float>::infinity()), EJSONException);
    EXPECT_THROW(TJSONNumber(-std::numeric_limits<double>::infinity()), EJSONException);
}

TEST(JSONObjectModel, NumberTextsAreCheckedAndConverted)
{
    EXPECT_EQ(TJSONNumber::FromText("-0.5E+3")->AsDouble(), -500.0);
    for (const char* bad : {"", "01", "1.", ".5", "+1", "1e", "0x10", "1,5", " 1", "NaN", "Infinity", "--1"})
        EXPECT_THROW(TJSONNumber::FromText(bad), EJSONException) << bad;

    auto n = [](const char* text) { return TJSONNumber::FromText(text); };
    EXPECT_EQ(n("2147483647")->AsInt(), 2147483647);
    EXPECT_EQ(n("-2147483648")->AsInt(), INT32_MIN);
    EXPECT_EQ(n("1E5")->AsDouble(), 100000.0);
    EXPECT_EQ(n("9007199254740993")->AsInt64(), 9007199254740993LL);
    // Texts that do not fit the type asked for.
    EXPECT_THROW(n("1E5")->AsInt(), EConvertError);
    EXPECT_THROW(n("2147483648")->AsInt(), EConvertError);
    EXPECT_THROW(n("1.5")->AsInt(), EConvertError);
    EXPECT_THROW(n("9223372036854775808")->AsInt64(), EConvertError);
    EXPECT_THROW(n("1e400")->AsDouble(), EConvertError);
    EXPECT_THROW(n(std::string(400, '9').c_str())->AsInt64(), EConvertError);
}

TEST(JSONObjectModel, ValueTextAndClassesOfEveryKind)
{
    auto array = TJSONValue::ParseJSONValue(R"(["s", 5, true, false, null, [1], {"a":1}])");
    auto& a = array->As<TJSONArray>();
    ASSERT_EQ(a.Count(), 7);
    const char* values[] = {"s", "5", "true", "false", "null", "", ""};
    const char* classes[] = {"TJSONString", "TJSONNumber", "TJSONTrue", "TJSONFalse",
                             "TJSONNull",   "TJSONArray",  "TJSONObject"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(a.Items(i)->Value(), values[i]) << i;
        EXPECT_STREQ(a.Items(i)->ClassName(), classes[i]);
    }
    // A number counts as a string, true and false count as booleans.
    EXPECT_NE(a.Items(1)->TryAs<TJSONString>(), nullptr);
    EXPECT_EQ(a.Items(0)->TryAs<TJSONNumber>(), nullptr);
    EXPECT_TRUE(a.Items(2)->As<TJSONBool>().AsBoolean());
    EXPECT_FALSE(a.Items(3)->As<TJSONBool>().AsBoolean());
    try {
        a.Items(0)->As<TJSONNumber>();
        FAIL() << "a string is not a number";
    } catch (const EJSONException& e) {
        EXPECT_EQ(e.Message(), "Conversion from TJSONString to TJSONNumber is not supported");
    }
    EXPECT_THROW(a.Items(7), EJSONException);
    EXPECT_THROW(a.Items(-1), EJSONException);
}

TEST(JSONObjectModel, StringsRoundTripWithEscapes)
{
    const std::string nasty = "C:\\Models\\box \"1\".kvr / line1\nline2\t\x01 \xC3\xA9 \xF0\x9F\x98\x80";
    TJSONObject obj;
    obj.AddPair("Path", nasty).AddPair(std::string("zero\0byte", 9), std::string("a\0b", 3));
    const std::string text = obj.ToJSON();
    auto back = ParseObject(text);
    EXPECT_EQ(back->GetValue("Path")->Value(), nasty);
    EXPECT_EQ(back->Pairs(1).Name(), std::string("zero\0byte", 9));
    EXPECT_EQ(back->Pairs(1).JsonValue()->Value(), std::string("a\0b", 3));
    // Escapes and surrogate pairs in the input become UTF-8.
    EXPECT_EQ(TJSONValue::ParseJSONValue(R"("\u00e9\ud83d\ude00\/")")->Value(), "\xC3\xA9\xF0\x9F\x98\x80/");
}

TEST(JSONObjectModel, CompactAndIndentedTextsEscapeAlike)
{
    // Every ASCII byte, runs longer than eight plain bytes on both sides of
    // each escape, and UTF-8 that stays as it is.
    std::string all;
    for (int c = 0; c < 0x80; ++c) all += static_cast<char>(c);
    const std::string texts[] = {all, "plain text of some length\"more plain text\\and the end",
                                 "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80 \x7F", ""};
    for (const std::string& text : texts) {
        const TJSONString value(text);
        EXPECT_EQ(value.ToJSON(), value.Format()) << text;
        EXPECT_EQ(TJSONValue::ParseJSONValue(value.ToJSON())->Value(), text);
    }
    EXPECT_EQ(TJSONString("\"\\/\b\f\n\r\t\x01\x1F").ToJSON(), R"("\"\\/\b\f\n\r\t\u0001\u001F")");
    auto nested = ParseObject(R"({"a":[],"b":{},"c":[{"d":[null,true,false,-1.50E3]}],"e":""})");
    EXPECT_EQ(nested->ToJSON(), R"({"a":[],"b":{},"c":[{"d":[null,true,false,-1.50E3]}],"e":""})");
}

TEST(JSONObjectModel, ReaderTakesEveryFormOfTheGrammar)
{
    struct Case {
        std::string text;
        std::string value; // of the root, or of its only item
    };
    const Case cases[] = {
        // Every escape, upper and lower case hex, an escaped zero byte, and
        // escapes after and before runs longer than eight plain bytes.
        {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
        {R"("\u00C9\u00e9\u0000\u007F")", std::string("\xC3\x89\xC3\xA9\0\x7F", 6)},
        {R"("0123456789\n0123456789\u20AC0123456789")", "0123456789\n0123456789\xE2\x82\xAC" "0123456789"},
        {R"("\ud800\udc00\uDBFF\uDFFF")", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        // Raw UTF-8 at the edges of each sequence length, past plain runs.
        {"[\"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\"]",
         "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {"[\"plain run \xC3\xA9 plain run \\\" \xF0\x9F\x98\x80 plain run\"]",
         "plain run \xC3\xA9 plain run \" \xF0\x9F\x98\x80 plain run"},
        // Numbers keep their text, up to the edge of the double range.
        {"-0", "-0"},
        {"[1e5]", "1e5"},
        {"[1E+2]", "1E+2"},
        {"[0e0]", "0e0"},
        {"[-0.0E-0]", "-0.0E-0"},
        {"[1.7976931348623157e308]", "1.7976931348623157e308"},
        {"[0.00001e313]", "0.00001e313"},
        {"[123456789012345678901234567890e300]", "123456789012345678901234567890e300"},
        {"[1" + std::string(308, '0') + "]", "1" + std::string(308, '0')},
        {"[1e-400]", "1e-400"},
        // The four kinds of blank around every token.
        {" \t\r\n[ \t\r\n\"x\" \t\r\n] \t\r\n", "x"},
    };
    for (const auto& c : cases) {
        auto value = TJSONValue::ParseJSONValue(c.text);
        const TJSONValue* item = value.get();
        if (value->Kind() == TJSONValue::TKind::Array) {
            ASSERT_EQ(value->As<TJSONArray>().Count(), 1) << c.text;
            item = value->As<TJSONArray>().Items(0);
        }
        EXPECT_EQ(item->Value(), c.value) << c.text;
    }
}

TEST(JSONObjectModel, ReaderFaultsAreReportedWhereTheyStand)
{
    struct Case {
        std::string text;
        size_t offset;
        const char* why;
    };
    const Case cases[] = {
        {"-", 1, "a minus sign alone"},
        {"[-]", 2, "a minus sign without digits"},
        {"[01]", 2, "a leading zero"},
        {"[-01]", 3, "a leading zero after the sign"},
        {"[1.]", 3, "no digit after the point"},
        {"[1e]", 3, "no digit in the exponent"},
        {"[1e+]", 4, "no digit after the exponent's sign"},
        {"[.5]", 1, "no digit before the point"},
        {"[+1]", 1, "a plus sign"},
        {"[1e309]", 1, "past the double range by the exponent"},
        {"[-0.1e310]", 1, "past the double range below zero"},
        {"[" + std::string(309, '9') + "]", 1, "past the double range by the digits"},
        {"[\"\xED\xA0\x80\"]", 2, "a surrogate encoded in UTF-8"},
        {"[\"ab\xED\xBF\xBF\"]", 4, "a low surrogate encoded in UTF-8"},
        {"[\"\xC0\xAF\"]", 2, "a two-byte overlong"},
        {"[\"\xC1\xBF\"]", 2, "the last two-byte overlong"},
        {"[\"\xE0\x9F\xBF\"]", 2, "a three-byte overlong"},
        {"[\"\xF0\x8F\xBF\xBF\"]", 2, "a four-byte overlong"},
        {"[\"\xF4\x90\x80\x80\"]", 2, "past U+10FFFF"},
        {"[\"\xF5\x80\x80\x80\"]", 2, "a lead byte past U+10FFFF"},
        {"[\"0123456789\x80\"]", 12, "a continuation byte alone after a plain run"},
        {"[\"ab\xC3\"]", 4, "a sequence cut by the closing quote"},
        {"\"ab\xE2\x82", 3, "a sequence cut by the end of the text"},
        {"[\"a\x01\"]", 3, "a raw control character"},
        {"[\"0123456789\t\"]", 12, "a raw tab"},
        {std::string("[\"01234567\\n\0\"]", 14), 12, "a zero byte after an escape"},
        {std::string("[1,\0 2]", 7), 3, "a zero byte between values"},
        {"[\"abc\\", 6, "the text ends in an escape"},
        {"[\"abc", 5, "the text ends in a string"},
        {R"(["\a"])", 2, "an unknown escape"},
        {R"(["\u12G4"])", 2, "a bad hex digit"},
        {R"(["\u12"])", 2, "a short escape of a code unit"},
        {"[1] x", 4, "text after the root"},
        {"[1]]", 3, "a second closing bracket"},
        {"1 2", 2, "two roots"},
        {"tru", 3, "a cut literal"},
        {"[nul]", 4, "a wrong literal"},
        {"[trUe]", 3, "a literal with a capital"},
        {"[truex]", 5, "a literal running on"},
        {"True", 0, "a literal in capitals"},
        {R"({"a" 1})", 5, "no colon"},
        {R"({"a":1,})", 7, "a comma before the closing brace"},
        {R"({1:2})", 1, "a name that is no string"},
        {R"({"a":1])", 6, "an object closed by a bracket"},
        {R"([1})", 2, "an array closed by a brace"},
    };
    for (const auto& c : cases) {
        try {
            TJSONValue::ParseJSONValue(c.text);
            ADD_FAILURE() << "accepted: " << c.why;
        } catch (const EJSONParseException& e) {
            EXPECT_EQ(e.Offset(), c.offset) << c.why;
            const std::string prefix = Format("Invalid JSON at offset %d: ", static_cast<int64_t>(c.offset));
            EXPECT_EQ(e.Message().substr(0, prefix.size()), prefix) << c.why;
            EXPECT_GT(e.Message().size(), prefix.size()) << c.why;
        }
    }

    // Nested objects meet the same depth bound as arrays, reported at the
    // opening brace one level too deep.
    std::string deep;
    for (int i = 0; i <= JSONMaxDepth; ++i) deep += "{\"a\":";
    try {
        TJSONValue::ParseJSONValue(deep + "1" + std::string(JSONMaxDepth + 1, '}'));
        ADD_FAILURE() << "one object too deep was accepted";
    } catch (const EJSONParseException& e) {
        EXPECT_EQ(e.Offset(), static_cast<size_t>(5 * JSONMaxDepth));
    }
    deep.resize(5 * JSONMaxDepth);
    EXPECT_EQ(TJSONValue::ParseJSONValue(deep + "1" + std::string(JSONMaxDepth, '}'))->ToJSON(),
              deep + "1" + std::string(JSONMaxDepth, '}'));
}

TEST(JSONObjectModel, IndentedOutputUsesFourBlanks)
{
    auto obj = ParseObject(R"({"a":[1,{"b":null}],"c":{},"d":[]})");
    EXPECT_EQ(obj->Format(), "{\n"
                             "    \"a\": [\n"
                             "        1,\n"
                             "        {\n"
                             "            \"b\": null\n"
                             "        }\n"
                             "    ],\n"
                             "    \"c\": {},\n"
                             "    \"d\": []\n"
                             "}");
    EXPECT_EQ(ParseObject(obj->Format())->ToJSON(), obj->ToJSON());
    // Any other width indents every level by that many blanks.
    EXPECT_EQ(TJSONValue::ParseJSONValue(R"([[1,[]],{"k":{"j":[true]}}])")->Format(2), "[\n"
                                                                                     "  [\n"
                                                                                     "    1,\n"
                                                                                     "    []\n"
                                                                                     "  ],\n"
                                                                                     "  {\n"
                                                                                     "    \"k\": {\n"
                                                                                     "      \"j\": [\n"
                                                                                     "        true\n"
                                                                                     "      ]\n"
                                                                                     "    }\n"
                                                                                     "  }\n"
                                                                                     "]");
}

TEST(JSONObjectModel, BadInputRaisesAClearError)
{
    struct Case {
        std::string text;
        const char* why;
    };
    const Case cases[] = {
        {R"({"a":[1,2)", "truncated"},
        {R"({"a":"unterminated)", "truncated string"},
        {R"({"a":})", "missing value"},
        {"", "empty"},
        {"   ", "blanks only"},
        {R"({} x)", "trailing text"},
        {std::string("{}\0x", 4), "zero byte after the value"},
        {std::string("[\"a\0b\"]", 7), "zero byte in a string"},
        {"[\"\xFF\"]", "invalid UTF-8 byte"},
        {"[\"\xC0\xAF\"]", "overlong UTF-8 encoding"},
        {"[\"\xE2\x82\"]", "truncated UTF-8 sequence"},
        {"[\"\xED\xA0\x80\"]", "encoded surrogate"},
        {R"(["\ud800"])", "lone surrogate escape"},
        {R"(["\x41"])", "invalid escape"},
        {R"([01])", "leading zero"},
        {R"([NaN])", "NaN"},
        {R"([1e99999])", "exponent beyond any number type"},
        {R"({'a':1})", "single quotes"},
        {R"([1,])", "trailing comma"},
        {std::string(100000, '[') + std::string(100000, ']'), "100,000 nested arrays"},
        {std::string(100000, '['), "100,000 unclosed arrays"},
        {[] {
             std::string s;
             for (int i = 0; i < 50000; ++i) s += "{\"a\":";
             return s + "1" + std::string(50000, '}');
         }(),
         "50,000 nested objects"},
    };
    for (const auto& c : cases) {
        try {
            TJSONValue::ParseJSONValue(c.text);
            ADD_FAILURE() << "accepted: " << c.why;
        } catch (const EJSONParseException& e) {
            EXPECT_FALSE(e.Message().empty()) << c.why;
            EXPECT_LE(e.Offset(), c.text.size()) << c.why;
        }
    }
    EXPECT_THROW(TJSONObject::ParseJSONObject("[1]"), EJSONParseException);
}

TEST(JSONObjectModel, NestingLimitIsExact)
{
    const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    auto deepest = TJSONValue::ParseJSONValue(nested(JSONMaxDepth));
    EXPECT_EQ(deepest->ToJSON(), nested(JSONMaxDepth));
    try {
        TJSONValue::ParseJSONValue(nested(JSONMaxDepth + 1));
        FAIL() << "one level too deep was accepted";
    } catch (const EJSONParseException& e) {
        EXPECT_EQ(e.Message(), "JSON nesting deeper than 1000 levels at offset 1000");
    }

    // A tree built by code deeper than the reader allows is not written either.
    auto root = std::make_unique<TJSONArray>();
    TJSONArray* level = root.get();
    for (int i = 0; i < JSONMaxDepth; ++i) level = level->Add(std::make_unique<TJSONArray>());
    EXPECT_THROW(root->ToJSON(), EJSONException);
}

TEST(JSONObjectModel, WritingInvalidUTF8Raises)
{
    TJSONObject obj;
    obj.AddPair("Name", std::string("bad \xFF byte"));
    EXPECT_THROW(obj.ToJSON(), EJSONException);
    TJSONObject badName;
    badName.AddPair(std::string("\xC3"), "v");
    EXPECT_THROW(badName.Format(), EJSONException);
}

TEST(JSONObjectModel, LoneSurrogateEscapesAreRefusedAtTheirOffset)
{
    struct Case {
        std::string text;
        size_t offset;
    };
    const Case cases[] = {
        {R"(["\udc00"])", 2},
        {R"(["\uDFFF"])", 2},
        {R"(["ab\udc00cd"])", 4},
        {R"(["\ud800"])", 2},
        {R"(["\ud800x"])", 2},
        {R"(["\ud800\u0041"])", 2},
        {R"(["\udc00\ud800"])", 2},
        {R"(["\ud83d\ude00\ude00"])", 14},
        {R"(["\\udc00", "\\", "\"\udc00"])", 21},
        {R"({"\udc00":1})", 2},
        {R"({"ok":"\u00e9","k\udc01":1})", 17},
    };
    for (const auto& c : cases) {
        try {
            TJSONValue::ParseJSONValue(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const EJSONParseException& e) {
            EXPECT_EQ(e.Offset(), c.offset) << c.text;
            EXPECT_EQ(e.Message(), Format("Invalid JSON at offset %d: The surrogate pair in string is invalid.",
                                          static_cast<int64_t>(c.offset)))
                << c.text;
        }
    }
    // Escaped backslashes before "u" and well-formed pairs stay text.
    EXPECT_EQ(TJSONValue::ParseJSONValue(R"(["\\udc00"])")->ToJSON(), R"(["\\udc00"])");
    EXPECT_EQ(TJSONValue::ParseJSONValue(R"("\udbff\udfff")")->Value(), "\xF4\x8F\xBF\xBF");
}

TEST(JSONObjectModel, EveryFiniteDoubleIsWrittenAsTextThatReadsBack)
{
    const double max = std::numeric_limits<double>::max();
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        // Fifteen digits would round past the double range.
        {max, "1.7976931348623157E308"},
        {-max, "-1.7976931348623157E308"},
        {std::nextafter(max, 0.0), "1.7976931348623155E308"},
        // Everywhere else the fifteen-digit text stays.
        {1.79769313486231e308, "1.79769313486231E308"},
        {std::numeric_limits<double>::min(), "2.2250738585072E-308"},
        {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
        {double(std::numeric_limits<float>::max()), "3.40282346638529E38"},
        {0.1, "0.1"},
    };
    for (const auto& c : cases) {
        const TJSONNumber number(c.value);
        EXPECT_EQ(number.Text(), c.text);
        const double back = TJSONValue::ParseJSONValue(number.ToJSON())->As<TJSONNumber>().AsDouble();
        EXPECT_TRUE(std::isfinite(back)) << c.text;
        EXPECT_NE(back, 0.0) << c.text;
    }
    EXPECT_EQ(TJSONNumber(max).AsDouble(), max);
}
