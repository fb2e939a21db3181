#include <gtest/gtest.h>

#include <limits>

#include "Korvane.DefTypes.h"
#include "TestHelpers.h"

using namespace korvane;

namespace {

std::unique_ptr<TJSONObject> Obj(std::string_view text) { return TJSONObject::ParseJSONObject(text); }

using test::MessageOf;

// A value written by the codec, turned into text, read back and decoded.
TValue ThroughText(const TValue& v)
{
    const std::string text = TCustomDef::RttiValueToJSON(v)->ToJSON();
    return TCustomDef::JSONToRttiValue(*TJSONValue::ParseJSONValue(text));
}

enum class TShade : uint8_t { Light, Dark };

} // namespace

namespace korvane {
KORVANE_ENUM_NAMES(TShade, "Light", "Dark");
}

TEST(ReadWithDefault, Integers)
{
    auto o = Obj(R"({"a":2.5,"b":3.5,"c":-2.5,"d":"7","e":1E5,"f":2147483648,"g":-7,"h":true,"i":null,
                     "j":0.5,"k":1.5,"l":2147483647.4,"m":1.0e10,"dup":1,"dup":2})");
    struct Case {
        const char* name;
        int32_t expected;
    };
    const Case cases[] = {
        {"a", 2},  {"b", 4},         {"c", -2},         {"d", 99} /* a string is not accepted */,
        {"g", -7}, {"h", 99},        {"i", 99},         {"missing", 99},
        {"j", 0},  {"k", 2},         {"l", INT32_MAX},  {"dup", 1} /* the first pair counts */,
    };
    for (const auto& c : cases) EXPECT_EQ(TCustomDef::JSONGetInteger(*o, c.name, 99), c.expected) << c.name;
    // Texts without a decimal mark must be 32-bit decimal integers.
    EXPECT_THROW(TCustomDef::JSONGetInteger(*o, "e", 99), EConvertError);
    EXPECT_THROW(TCustomDef::JSONGetInteger(*o, "f", 99), EConvertError);
    // A rounded value beyond 32 bits fails as well, rather than wrapping.
    EXPECT_THROW(TCustomDef::JSONGetInteger(*o, "m", 99), EConvertError);
}

TEST(ReadWithDefault, TextsFloatsAndBooleans)
{
    auto o = Obj(R"({"str":"abc","num":5,"t":true,"f":false,"n":null,"a":[1],"o":{"x":1},"st":"true",
                     "e":1E5,"path":"C:\\dir/file \"q\"\n","huge":123456789012345678901234567890e300})");
    struct TextCase {
        const char* name;
        const char* text;   // JSONGetText
        const char* string; // JSONGetString
    };
    const TextCase texts[] = {
        {"str", "abc", "abc"}, {"num", "5", "5"},  {"t", "true", "dflt"}, {"f", "false", "dflt"},
        {"n", "null", "dflt"}, {"a", "", "dflt"},  {"o", "", "dflt"},     {"missing", "dflt", "dflt"},
        {"path", "C:\\dir/file \"q\"\n", "C:\\dir/file \"q\"\n"},
    };
    for (const auto& c : texts) {
        EXPECT_EQ(TCustomDef::JSONGetText(*o, c.name, "dflt"), c.text) << c.name;
        EXPECT_EQ(TCustomDef::JSONGetString(*o, c.name, "dflt"), c.string) << c.name;
    }

    EXPECT_EQ(TCustomDef::JSONGetFloat(*o, "num", -1), 5.0);
    EXPECT_EQ(TCustomDef::JSONGetFloat(*o, "e", -1), 100000.0);
    EXPECT_EQ(TCustomDef::JSONGetFloat(*o, "str", -1), -1.0);
    EXPECT_EQ(TCustomDef::JSONGetFloat(*o, "t", -1), -1.0);
    EXPECT_THROW(TCustomDef::JSONGetFloat(*o, "huge", -1), EConvertError) << "beyond the range of a double";

    EXPECT_TRUE(TCustomDef::JSONGetBoolean(*o, "t", false));
    EXPECT_FALSE(TCustomDef::JSONGetBoolean(*o, "f", true));
    EXPECT_TRUE(TCustomDef::JSONGetBoolean(*o, "st", true)) << "the string \"true\" gives the default";
    EXPECT_FALSE(TCustomDef::JSONGetBoolean(*o, "st", false)) << "the string \"true\" gives the default";
    EXPECT_FALSE(TCustomDef::JSONGetBoolean(*o, "num", false)) << "a number gives the default";
    EXPECT_TRUE(TCustomDef::JSONGetBoolean(*o, "missing", true));
}

TEST(ReadWithDefault, ValuesInTextForm)
{
    auto o = Obj(R"({"p":"1 2 3","empty":"","a":[1,2,3],"n":null,"m":"2 0 0 0 0 2 0 0 0 0 2 0 1 2 3 1",
                     "c":"1 0.5 0","g":"{01234567-89AB-CDEF-0123-456789ABCDEF}","bad":"{0123}","num":7})");
    const TPoint3D def(9, 9, 9);
    EXPECT_EQ(TCustomDef::JSONGetPoint3D(*o, "p", def), TPoint3D(1, 2, 3));
    EXPECT_EQ(TCustomDef::JSONGetPoint3D(*o, "empty", def), def);
    EXPECT_EQ(TCustomDef::JSONGetPoint3D(*o, "a", def), def);
    EXPECT_EQ(TCustomDef::JSONGetPoint3D(*o, "missing", def), def);
    EXPECT_EQ(TCustomDef::JSONGetPoint3D(*o, "n", def), TPoint3D(0, 0, 0)) << "null reads as the text 'null'";
    EXPECT_EQ(TCustomDef::JSONGetPoint3D(*o, "num", def), TPoint3D(7, 0, 0)) << "a number reads as its text";

    const TMatrix3D m = TCustomDef::JSONGetMatrix3D(*o, "m", TMatrix3D::Identity());
    EXPECT_EQ(m, TMatrix3D(2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1));
    EXPECT_EQ(TCustomDef::JSONGetMatrix3D(*o, "empty", m), m);

    const TAlphaColorF cdef(0.1f, 0.2f, 0.3f, 0.4f);
    EXPECT_EQ(TCustomDef::JSONGetColorF(*o, "c", cdef), TAlphaColorF(1, 0.5f, 0, 0));
    EXPECT_EQ(TCustomDef::JSONGetColorF(*o, "o", cdef), cdef);

    const TGUID g = TCustomDef::JSONGetGUID(*o, "g", TGUID::Empty());
    EXPECT_EQ(GUIDToString(g), "{01234567-89AB-CDEF-0123-456789ABCDEF}");
    EXPECT_TRUE(TCustomDef::JSONGetGUID(*o, "empty", TGUID::Empty()).IsEmpty());
    EXPECT_THROW(TCustomDef::JSONGetGUID(*o, "bad", TGUID::Empty()), EConvertError);
}

TEST(ReadWithDefault, KeysAndValueClasses)
{
    auto o = Obj(R"({"n":null,"num":1,"s":"x","t":true,"f":false,"a":[],"o":{}})");
    EXPECT_TRUE(TCustomDef::JSONHasKey(*o, "n"));
    EXPECT_FALSE(TCustomDef::JSONHasKey(*o, "N"));
    EXPECT_TRUE(TCustomDef::JSONHasKeyOfClass<TJSONNull>(*o, "n"));
    EXPECT_TRUE(TCustomDef::JSONHasKeyOfClass<TJSONNumber>(*o, "num"));
    EXPECT_TRUE(TCustomDef::JSONHasKeyOfClass<TJSONString>(*o, "num")) << "a number counts as a string";
    EXPECT_FALSE(TCustomDef::JSONHasKeyOfClass<TJSONNumber>(*o, "s"));
    EXPECT_TRUE(TCustomDef::JSONHasKeyOfClass<TJSONBool>(*o, "t"));
    EXPECT_TRUE(TCustomDef::JSONHasKeyOfClass<TJSONBool>(*o, "f"));
    EXPECT_TRUE(TCustomDef::JSONHasKeyOfClass<TJSONTrue>(*o, "t"));
    EXPECT_FALSE(TCustomDef::JSONHasKeyOfClass<TJSONTrue>(*o, "f"));
    EXPECT_TRUE(TCustomDef::JSONHasKeyOfClass<TJSONArray>(*o, "a"));
    EXPECT_FALSE(TCustomDef::JSONHasKeyOfClass<TJSONObject>(*o, "a"));
    EXPECT_TRUE(TCustomDef::JSONHasKeyOfClass<TJSONObject>(*o, "o"));
    EXPECT_FALSE(TCustomDef::JSONHasKeyOfClass<TJSONObject>(*o, "missing"));
}

TEST(CustomDef, JSONAndContract)
{
    TCustomDef def;
    EXPECT_EQ(def.ToJSON()->ToJSON(), R"({"Type":"Korvane.DefTypes.TCustomDef","Id":""})");
    EXPECT_EQ(def.GetSize(), static_cast<int64_t>(sizeof(TCustomDef)));
    def.SetId("Mesh\xC3\xA9");
    EXPECT_EQ(def.GetSize(), static_cast<int64_t>(sizeof(TCustomDef)) + 10);
    EXPECT_EQ(MessageOf<Exception>([&] { def.GetAssetsPackage(); }),
              "TODO: override TCustomDef.GetAssetsPackage() in TCustomDef");
    EXPECT_TRUE(def.LateResolveFromJSON(nullptr, *Obj("{}")));

    struct Case {
        const char* json;
        const char* id;
    };
    const Case cases[] = {
        {R"({"Id":"Mat1"})", "Mat1"}, {R"({})", "Mat1"},   {R"({"Id":5})", "5"},
        {R"({"Id":true})", "5"},      {R"({"Id":null})", "5"}, {R"({"Id":"","Id":"x"})", ""},
    };
    TCustomDef reader;
    for (const auto& c : cases) {
        reader.FromJSON(nullptr, *Obj(c.json));
        EXPECT_EQ(reader.Id(), c.id) << c.json;
    }
}

TEST(RttiCodec, RecordKindsRoundTrip)
{
    TMatrix m3;
    TMatrix3D m4;
    for (int i = 0; i < 9; ++i) m3.M[i / 3][i % 3] = 0.5f * static_cast<float>(i) - 1;
    for (int i = 0; i < 16; ++i) m4.M[i / 4][i % 4] = 0.25f * static_cast<float>(i) + 0.1f;
    const TValue values[] = {
        TValue::From(TPoint(3, -4)),
        TValue::From(TPointF(0.35f, -1.25f)),
        TValue::From(TPoint3D(1, -2.5f, 1e-3f)),
        TValue::From(TVector3D(1, 2, 3, 0.1f)),
        TValue::From(m3),
        TValue::From(m4),
        TValue::From<TAlphaColor>(0xFF0080C0),
        TValue::From(TAlphaColorF(0.1f, 0.2f, 0.3f, 1)),
        TValue::From(TUBOUniformDef{"uLights", 5126, 2, 8, "0 0 \"1\" \\"}),
    };
    for (const auto& v : values) {
        const auto json = TCustomDef::RttiValueToJSON(v);
        ASSERT_EQ(json->Kind(), TJSONValue::TKind::Object) << v.ToString();
        EXPECT_EQ(json->As<TJSONObject>().Pairs(0).Name(), "RecordType");
        const TValue back = ThroughText(v);
        EXPECT_EQ(back.TypeName(), v.TypeName());
        EXPECT_TRUE(back == v) << json->ToJSON();
    }
    // The wire forms of the table.
    EXPECT_EQ(TCustomDef::RttiValueToJSON(TValue::From<TAlphaColor>(0xFF0080C0))->ToJSON(),
              R"({"RecordType":"TAlphaColor","Value":[0,128,192,255]})");
    // A plain unsigned 32-bit number is a number, not a colour.
    EXPECT_EQ(TCustomDef::RttiValueToJSON(TValue::From<uint32_t>(0xFF0080C0u))->ToJSON(), "-16744256");
    EXPECT_EQ(TCustomDef::RttiValueToJSON(TValue::From<uint32_t>(7u))->ToJSON(), "7");
    EXPECT_EQ(TCustomDef::RttiValueToJSON(TValue::From(TPointF(0.35f, 1)))->ToJSON(),
              R"({"RecordType":"TPointF","Value":[0.349999994039536,1]})");
    EXPECT_EQ(TCustomDef::RttiValueToJSON(TValue::From(TPoint(3, -4)))->ToJSON(),
              R"({"RecordType":"TPoint","Value":[3,-4]})");
    EXPECT_EQ(TCustomDef::RttiValueToJSON(TValue::From(TUBOUniformDef{"u", 1, 2, 3, "v"}))->ToJSON(),
              R"({"RecordType":"TUBOUniformDef","Name":"u","DataType":1,"Layout":2,"ArrayLength":3,"ValueAsString":"v"})");
    EXPECT_EQ(TCustomDef::RttiValueToJSON(TValue::From(TMatrix::Identity()))->ToJSON(),
              R"({"RecordType":"TMatrix","Value":[1,0,0,0,1,0,0,0,1]})");
}

TEST(RttiCodec, OtherKinds)
{
    struct Case {
        TValue value;
        const char* json;
        TValue readBack;
    };
    const Case cases[] = {
        {TValue(), "null", TValue::From(std::string("null"))},
        {TValue::From(-5), "-5", TValue::From(-5)},
        {TValue::From(int16_t(7)), "7", TValue::From(7)},
        {TValue::From(true), "true", TValue::From(true)},
        {TValue::From(false), "false", TValue::From(false)},
        {TValue::From(std::string("a/b\\c\"d\n")), R"("a/b\\c\"d\n")", TValue::From(std::string("a/b\\c\"d\n"))},
        {TValue::From(1.5), "1.5", TValue::From(1.5)},
        {TValue::From(0.35f), "0.349999994039536", TValue::From(0.349999994039536)},
        {TValue::From(1.0f), "1", TValue::From(1)}, // integral floats come back as integers
        {TValue::From(TShade::Dark), R"("Dark")", TValue::From(std::string("Dark"))},
        // Beyond the 32-bit range and with an exponent the values still read back.
        {TValue::From(int64_t(1) << 40), "1099511627776", TValue::From(int64_t(1) << 40)},
        {TValue::From(1e-7), "1E-7", TValue::From(1e-7)},
        {TValue::From(1e20f), "1.00000002004088E20", TValue::From(1.00000002004088e20)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TCustomDef::RttiValueToJSON(c.value)->ToJSON(), c.json);
        const TValue back = ThroughText(c.value);
        EXPECT_TRUE(back == c.readBack) << c.json << " read back as " << back.ToString() << " " << back.TypeName();
        EXPECT_EQ(back.TypeName(), c.readBack.TypeName()) << c.json;
    }
    // Objects and records without a JSON form travel as their text form.
    TCustomDef def;
    EXPECT_EQ(TCustomDef::RttiValueToJSON(TValue::From(&def))->Kind(), TJSONValue::TKind::String);
    EXPECT_EQ(TCustomDef::RttiValueToJSON(TValue::From(TSize(1, 2)))->Kind(), TJSONValue::TKind::String);
}

TEST(RttiCodec, ReadingRecordObjects)
{
    auto read = [](std::string_view text) { return TCustomDef::JSONToRttiValue(*TJSONValue::ParseJSONValue(text)); };
    EXPECT_EQ(read(R"({"RecordType":"TPoint3D","Value":[1,2,3]})").AsType<TPoint3D>(), TPoint3D(1, 2, 3));
    EXPECT_EQ(read(R"({"RecordType":"TPoint","Value":[1.6,2]})").AsType<TPoint>(), TPoint(2, 2));
    EXPECT_EQ(read(R"({"RecordType":"TPoint","Value":[2.5,-3.5]})").AsType<TPoint>(), TPoint(2, -4));
    EXPECT_EQ(read(R"({"RecordType":"TAlphaColor","Value":[257,2,3,-1]})").AsType<TAlphaColor>(), 0xFF010203u);
    EXPECT_EQ(read(R"({"Value":[1,2,3],"RecordType":"TPoint3D","x":1})").AsType<TPoint3D>(), TPoint3D(1, 2, 3));
    // Fields of the wrong kind are ignored.
    EXPECT_TRUE(read(R"({"RecordType":"TUBOUniformDef","Name":5,"DataType":"1","Layout":2.6,"Other":1})") ==
                TValue::From(TUBOUniformDef{"", 0, 3, 0, ""}));
    // Objects without a string "RecordType" (the first pair counts) are texts.
    for (const char* text : {R"({"RecordType":5})", R"({"RecordType":1,"RecordType":"TPoint","Value":[1,2]})",
                             R"({"a":[1,{}]})", R"([1,"x",null])"})
        EXPECT_TRUE(read(text) == TValue::From(std::string(text))) << text;

    struct Failure {
        const char* json;
        const char* message;
    };
    const Failure failures[] = {
        {R"({"RecordType":"TPoint3D","Value":[1,2]})",
         R"(Unexpected value type in RecordType "TPoint3D" found in JSONToRttiValue of TCustomDef)"},
        {R"({"RecordType":"TMatrix3D","Value":"1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1"})",
         R"(Unexpected value type in RecordType "TMatrix3D" found in JSONToRttiValue of TCustomDef)"},
        {R"({"RecordType":"TQuaternion3D","Value":[0,0,0,1]})",
         R"(Unsupported RecordType "TQuaternion3D" found in JSONToRttiValue of TCustomDef)"},
        {R"({"RecordType":"tpoint3d","Value":[1,2,3]})",
         R"(Unsupported RecordType "tpoint3d" found in JSONToRttiValue of TCustomDef)"},
        {R"({"RecordType":"TQuaternion3D"})",
         R"(Missing value in RecordType "TQuaternion3D" in JSONToRttiValue of TCustomDef)"},
        {R"({"RecordType":"TPoint","value":[1,2]})",
         R"(Missing value in RecordType "TPoint" in JSONToRttiValue of TCustomDef)"},
        {R"({"RecordType":"TPoint","Value":[1,"x"]})",
         R"(TCustomDef.JSONToRttiValue(TPoint) - unexpected value found "[1,"x"]")"},
        {R"({"RecordType":"TAlphaColor","Value":[1,2,3,null]})",
         R"(TCustomDef.JSONToRttiValue(TAlphaColor) - unexpected value found "[1,2,3,null]")"},
    };
    for (const auto& f : failures) EXPECT_EQ(MessageOf<Exception>([&] { read(f.json); }), f.message) << f.json;
    // Elements of the single-precision records fail with the JSON layer's type error.
    EXPECT_EQ(MessageOf<EJSONException>([&] { read(R"({"RecordType":"TPointF","Value":[1,"x"]})"); }),
              "Conversion from TJSONString to TJSONNumber is not supported");
    // The integer rule: an exponent does not convert.
    EXPECT_THROW(read(R"({"RecordType":"TPoint","Value":[1E5,2]})"), EConvertError);
}

TEST(RttiCodec, SingleRecordsOutsideTheSingleRangeFail)
{
    auto read = [](std::string_view text) { return TCustomDef::JSONToRttiValue(*TJSONValue::ParseJSONValue(text)); };
    struct Case {
        const char* json;
        const char* number;
        const char* recordType;
    };
    const Case cases[] = {
        {R"({"RecordType":"TPoint3D","Value":[1,1e300,3]})", "1e300", "TPoint3D"},
        {R"({"RecordType":"TPointF","Value":[-1E39,0]})", "-1E39", "TPointF"},
        {R"({"RecordType":"TVector3D","Value":[0,0,0,3.4028236e38]})", "3.4028236e38", "TVector3D"},
        {R"({"RecordType":"TAlphaColorF","Value":[1.7976931348623157E308,0,0,1]})", "1.7976931348623157E308",
         "TAlphaColorF"},
        {R"({"RecordType":"TMatrix","Value":[0,0,0,0,0,0,0,0,-1e39]})", "-1e39", "TMatrix"},
        {R"({"RecordType":"TMatrix3D","Value":[1e40,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]})", "1e40", "TMatrix3D"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MessageOf<EConvertError>([&] { read(c.json); }),
                  Format("'%s' is outside the range of Single in RecordType \"%s\"", c.number, c.recordType))
            << c.json;

    // The largest single as the writer spells it lies just above that single
    // as a double, and reads back as it; so do texts that round to it.
    const float max = std::numeric_limits<float>::max();
    const TValue written = TValue::From(TPoint3D(max, -max, 1));
    EXPECT_TRUE(ThroughText(written) == written);
    EXPECT_EQ(read(R"({"RecordType":"TPointF","Value":[3.4028235e38,-3.40282356e38]})").AsType<TPointF>(),
              TPointF(max, -max));
}

TEST(Properties, RoundTripThroughText)
{
    TProperties props;
    props.Add("Count", TValue::From(3));
    props.Add("Name", TValue::From(std::string("Box \"1\"")));
    props.Add("Scale", TValue::From(2.5));
    props.Add("Visible", TValue::From(true));
    props.Add("Center", TValue::From(TPoint3D(1, 2, 3)));
    props.Add("Tint", TValue::From<TAlphaColor>(0x80FF0000));
    props.Add("count", TValue::From(4)); // keys keep their letter case
    EXPECT_THROW(props.Add("Count", TValue::From(1)), EListError);

    TJSONObject json;
    props.ToJSON(json);
    TProperties back;
    back.FromJSON(*TJSONObject::ParseJSONObject(json.ToJSON()));
    ASSERT_EQ(back.Count(), props.Count());
    for (const auto& [key, value] : props) {
        ASSERT_TRUE(back.ContainsKey(key)) << key;
        EXPECT_TRUE(back.Items(key) == value) << key;
    }
    EXPECT_EQ(back.GetSize(), static_cast<int64_t>(sizeof(TProperties)) + 44 * 7);

    TJSONObject empty;
    TProperties().ToJSON(empty);
    EXPECT_EQ(empty.ToJSON(), R"({"Properties":[]})");
}

TEST(Properties, ReadingEdgeCases)
{
    TProperties props;
    props.Add("Old", TValue::From(1));
    props.FromJSON(*Obj(R"({"Properties":[
        {"Name":" Size ","Value":1.5},
        {"Name":"Two","Value":2},
        {"Name":"One","Value":1},
        {"Name":"Null","Value":null},
        {"Name":"NoValue"},
        {"Name":5,"Value":1},
        {"Value":1},
        "stray",
        [1],
        {"Name":"Arr","Value":[1,2]}
    ]})"));
    EXPECT_FALSE(props.ContainsKey("Old")) << "reading replaces the content";
    EXPECT_EQ(props.Count(), 5);
    EXPECT_TRUE(props.Items("Size") == TValue::From(1.5));
    EXPECT_TRUE(props.Items("Two").IsType<int32_t>());
    EXPECT_TRUE(props.Items("One") == TValue::From(1));
    EXPECT_TRUE(props.Items("Null") == TValue::From(std::string("null")));
    EXPECT_TRUE(props.Items("Arr") == TValue::From(std::string("[1,2]")));
    EXPECT_FALSE(props.ContainsKey("NoValue"));

    // A float 1.0 is written 1 and reads back as the integer 1.
    TProperties f;
    f.Add("F", TValue::From(1.0));
    TJSONObject json;
    f.ToJSON(json);
    EXPECT_EQ(json.ToJSON(), R"({"Properties":[{"Name":"F","Value":1}]})");
    f.FromJSON(json);
    EXPECT_TRUE(f.Items("F") == TValue::From(1));

    // "Properties" that is not an array leaves the bag empty.
    props.FromJSON(*Obj(R"({"Properties":{"Name":"A","Value":1}})"));
    EXPECT_EQ(props.Count(), 0);

    // A repeated key (after trimming) fails; what was read before stays.
    EXPECT_THROW(props.FromJSON(*Obj(R"({"Properties":[{"Name":"A","Value":1},{"Name":"A ","Value":2},
                                                        {"Name":"B","Value":3}]})")),
                 EListError);
    EXPECT_EQ(props.Count(), 1);
    EXPECT_TRUE(props.Items("A") == TValue::From(1));
    EXPECT_THROW(props.Items("B"), EListError);
}
