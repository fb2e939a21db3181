#include <gtest/gtest.h>

#include "TestHelpers.h"

#include <cmath>
#include <functional>
#include <limits>

#include "Platform.JSON.Tokens.h"

using namespace korvane;
using namespace korvane::test;

TEST(JSONTokenWriter, RefusesSequencesNoDocumentCanHold)
{
    struct Case {
        const char* name;
        std::function<void(TJsonWriter&)> before;
        std::function<void(TJsonWriter&)> write;
        const char* message;
    } cases[] = {
        {"value in an object without a name", [](TJsonWriter& w) { w.WriteStartObject(); },
         [](TJsonWriter& w) { w.WriteValue(true); }, "Token Boolean in state ObjectStart would result in an invalid JSON object"},
        {"name in an array", [](TJsonWriter& w) { w.WriteStartArray(); },
         [](TJsonWriter& w) { w.WritePropertyName("a"); },
         "Token PropertyName in state ArrayStart would result in an invalid JSON object"},
        {"name at the root", [](TJsonWriter&) {}, [](TJsonWriter& w) { w.WritePropertyName("a"); },
         "Token PropertyName in state Start would result in an invalid JSON object"},
        {"array end for an object", [](TJsonWriter& w) { w.WriteStartObject(); },
         [](TJsonWriter& w) { w.WriteEndArray(); }, "Token EndArray in state ObjectStart would result in an invalid JSON object"},
        {"end with nothing open", [](TJsonWriter&) {}, [](TJsonWriter& w) { w.WriteEndObject(); },
         "Token EndObject in state Start would result in an invalid JSON object"},
        {"object start after a name-less object", [](TJsonWriter& w) { w.WriteStartObject(); },
         [](TJsonWriter& w) { w.WriteStartObject(); },
         "Token StartObject in state ObjectStart would result in an invalid JSON object"},
        {"writing after close", [](TJsonWriter& w) { w.Close(); }, [](TJsonWriter& w) { w.WriteNull(); },
         "Token Null in state Closed would result in an invalid JSON object"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TJsonObjectWriter writer;
        c.before(writer);
        const auto state = writer.State();
        EXPECT_EQ(MessageOf<EJsonWriterException>([&] { c.write(writer); }), c.message);
        EXPECT_EQ(writer.State(), state) << "a refused token changes nothing";
    }
}

TEST(JSONObjectBuilder, BuildsTheObjectModelFromTokens)
{
    TJsonObjectWriter writer;
    writer.WriteStartObject();
    writer.WritePropertyName("n");
    writer.WriteValue(int64_t(-3));
    writer.WritePropertyName("f");
    writer.WriteValue(0.1);
    writer.WritePropertyName("big");
    writer.WriteValue(uint64_t(18446744073709551615u));
    writer.WritePropertyName("list");
    writer.WriteStartArray();
    writer.WriteValue("s");
    writer.WriteValue(false);
    writer.WriteNull();
    writer.WriteValue(1e300);
    writer.WriteEndArray();
    writer.WritePropertyName("n");
    writer.WriteValue(int32_t(2));
    EXPECT_FALSE(writer.Complete());
    writer.WritePropertyName("pending");
    writer.Close();
    ASSERT_TRUE(writer.Complete());
    EXPECT_EQ(writer.Root()->ToJSON(),
              R"({"n":-3,"f":0.1,"big":18446744073709551615,"list":["s",false,null,1e+300],"n":2,"pending":null})");
    auto root = writer.ExtractRoot();
    EXPECT_EQ(writer.Root(), nullptr);
    EXPECT_EQ(root->Kind(), TJSONValue::TKind::Object);
}

TEST(JSONObjectBuilder, RefusesWhatTheObjectModelCannotHold)
{
    struct Case {
        const char* name;
        std::function<void(TJsonWriter&)> write;
        const char* message;
    } cases[] = {
        {"date", [](TJsonWriter& w) { w.WriteValue(TJsonDateTime{}); }, "The JSON object model has no value for a token Date"},
        {"bytes", [](TJsonWriter& w) { w.WriteValue(std::span<const uint8_t>(), TJsonBinaryType::Generic); },
         "The JSON object model has no value for a token Bytes"},
        {"min key", [](TJsonWriter& w) { w.WriteMinKey(); }, "The JSON object model has no value for a token MinKey"},
        {"not a number", [](TJsonWriter& w) { w.WriteValue(std::nan("")); },
         "NaN and infinite values have no JSON number form"},
        {"infinity", [](TJsonWriter& w) { w.WriteValue(std::numeric_limits<double>::infinity()); },
         "NaN and infinite values have no JSON number form"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TJsonObjectWriter writer;
        writer.WriteStartArray();
        EXPECT_EQ(MessageOf<EJsonWriterException>([&] { c.write(writer); }), c.message);
        writer.WriteEndArray();
        EXPECT_EQ(writer.Root()->ToJSON(), "[]") << "nothing was added";
    }

    TJsonObjectWriter writer;
    writer.WriteStartArray();
    writer.WriteEndArray();
    EXPECT_EQ(MessageOf<EJsonWriterException>([&] { writer.WriteStartObject(); }),
              "The JSON object model holds one root value");
    TJsonObjectWriter deep;
    for (int i = 0; i < JSONMaxDepth; ++i) deep.WriteStartArray();
    EXPECT_EQ(MessageOf<EJsonWriterException>([&] { deep.WriteStartArray(); }), "JSON nesting deeper than 1000 levels");
}
