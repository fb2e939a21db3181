#include <gtest/gtest.h>

#include <cctype>

#include "Korvane.DefTypes.Meta.h"
#include "ModelStandIn.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::MessageOf;
using korvane::test::TTestModel;

namespace {

std::unique_ptr<TJSONObject> Obj(std::string_view text) { return TJSONObject::ParseJSONObject(text); }

const char* const InvalidTag = "TMetaDef.SetTag(): invalid meta tag type - only string, int, float and bool allowed";

class MetaModel : public test::ModelFixture {};

enum class TColour : uint8_t { Red, Green };

} // namespace

TEST(MetaDef, ModelMetadataTagsAndTheirJSON)
{
    TModelMetaDef meta;
    EXPECT_EQ(meta.ToJSON()->ToJSON(), R"({"Type":"Korvane.DefTypes.TModelMetaDef","Id":""})");
    EXPECT_EQ(meta.Title(), "");
    EXPECT_EQ(meta.Polygons(), 0);
    EXPECT_FALSE(meta.MobileSuitable());

    meta.SetTitle("Chair");
    meta.SetPolygons(1200);
    meta.SetMobileSuitable(true);
    // The dictionary's order, after "Type" and "Id".
    EXPECT_EQ(meta.ToJSON()->ToJSON(),
              R"({"Type":"Korvane.DefTypes.TModelMetaDef","Id":"","MobileSuitable":true,"Polygons":1200,"Title":"Chair"})");

    const TValue rejected[] = {TValue(), TValue::From(TColour::Green), TValue::From(TPoint3D(1, 2, 3))};
    for (const TValue& value : rejected) {
        EXPECT_EQ(MessageOf([&] { meta.SetTag("Bad", value); }), InvalidTag) << value.TypeName();
        EXPECT_EQ(meta.GetTag("Bad").Kind(), tkUnknown) << "the tags stay as they were";
    }
    EXPECT_EQ(meta.Tags().size(), 3u);
}

TEST(MetaDef, ReadingTagKindsNamesAndRepeats)
{
    TMetaDef meta;
    meta.SetTagAsString("Stale", "gone after reading");
    meta.FromJSON(nullptr, *Obj(R"({"Type": "Korvane.DefTypes.TModelMetaDef", "Id": "m", "Title": "Chair",
        "Polygons": 1200, "Scale": 2.5, "Ratio": 1.5e3, "Big": 1e5, "Huge": 12345678901, "Flag": true,
        "Note": null, "List": [1], "Sub": {}, " Spaced ": "s", "\"Size\" ignored": 3, "\"Open": "o",
        "Twice": 1, "Twice": "later"})"));
    EXPECT_EQ(meta.Id(), "m");
    struct Case {
        const char* Name;
        TTypeKind Kind;
        std::string Text;
    };
    const Case cases[] = {
        {"Type", tkString, "Korvane.DefTypes.TModelMetaDef"},
        {"Id", tkString, "m"},
        {"Title", tkString, "Chair"},
        {"Polygons", tkInt64, "1200"},
        {"Scale", tkFloat, "2.5"},
        {"Ratio", tkFloat, "1500"},
        {"Big", tkInt64, "0"},
        {"Huge", tkInt64, "12345678901"},
        {"Flag", tkEnumeration, "True"},
        {"Spaced", tkString, "s"},
        {"Size", tkInt64, "3"},
        {"\"Open", tkString, "o"},
        {"Twice", tkString, "later"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(meta.GetTag(c.Name).Kind(), c.Kind) << c.Name;
        EXPECT_EQ(meta.TagAsString(c.Name), c.Text) << c.Name;
    }
    EXPECT_EQ(meta.Tags().size(), std::size(cases)) << "null, arrays and objects give no tag; older tags are gone";
    EXPECT_EQ(meta.TagAsInt("Huge"), 12345678901);
    EXPECT_EQ(meta.TagAsFloat("Ratio"), 1500.0);

    // Written again: "Type" and "Id" twice, and reading that gives the same tags and text.
    const std::string text = meta.ToJSON()->ToJSON();
    EXPECT_EQ(text.rfind(R"({"Type":"Korvane.DefTypes.TMetaDef","Id":"m",)", 0), 0u) << text;
    EXPECT_NE(text.find(R"("Type":"Korvane.DefTypes.TModelMetaDef")"), std::string::npos);
    EXPECT_NE(text.find(R"("\"\"\"Open\"":"o")"), std::string::npos) << "a name with a leading quote is written quoted";
    TMetaDef again;
    again.FromJSON(nullptr, *Obj(text));
    EXPECT_EQ(again.ToJSON()->ToJSON(), text);
    EXPECT_EQ(again.TagAsString("\"Open"), "o");
    EXPECT_EQ(again.TagAsString("Type"), "Korvane.DefTypes.TModelMetaDef");

    // A float tag whose text has an exponent reads back as a float.
    TMetaDef floats;
    floats.SetTagAsFloat("Far", 1e20);
    TMetaDef floatsBack;
    floatsBack.FromJSON(nullptr, *Obj(floats.ToJSON()->ToJSON()));
    EXPECT_EQ(floatsBack.TagAsFloat("Far"), 1e20);
}

TEST(MetaDef, GroupTimeStampIsTheFixedForm)
{
    test::Owned<TGroupDef> group(new TGroupDef(nullptr));
    auto json = group->ToJSON();
    EXPECT_EQ(json->GetValue("Author"), nullptr);
    EXPECT_EQ(json->GetValue("Timestamp"), nullptr);

    TDateTime stamp = 0;
    ASSERT_TRUE(TryStringToTimestamp("2024-03-05 14:07:09", stamp));
    EXPECT_NEAR(stamp, 45356 + (14 * 3600 + 7 * 60 + 9) / 86400.0, 1e-9) << "days from 1899-12-30";
    group->Timestamp = stamp;
    group->Author = "Ann";
    group->Link = "https://example.org/a b";
    {
        // The user's locale has no say in the written or the read text.
        test::CommaDecimalLocale locale;
        json = group->ToJSON();
        EXPECT_EQ(json->GetValue("Timestamp")->Value(), "2024-03-05 14:07:09");
        test::Owned<TGroupDef> read(new TGroupDef(nullptr));
        read->FromJSON(nullptr, *json);
        EXPECT_EQ(read->ToJSON()->ToJSON(), json->ToJSON());
        EXPECT_NEAR(read->Timestamp, stamp, 1e-9);
    }
    EXPECT_EQ(TimestampToString(45356.999999999), "2024-03-06 00:00:00") << "rounded to milliseconds first";

    struct Case {
        const char* Json;
        double Expected; // -1: keeps the previous time stamp
    };
    const Case cases[] = {
        {"{}", 0},
        {R"({"Timestamp": ""})", -1},
        {R"({"Timestamp": "yesterday"})", 0},
        {R"({"Timestamp": "2024-02-30 10:00:00"})", 0},
        {R"({"Timestamp": "2024-03-05 24:00:00"})", 0},
        {R"({"Timestamp": "05.03.2024 14:07:09"})", 0},
        {R"({"Timestamp": "2024-03-05 14:07:09 "})", 0},
        {R"({"Timestamp": "2024-02-29 00:00:00"})", 45351},
    };
    for (const Case& c : cases) {
        test::Owned<TGroupDef> read(new TGroupDef(nullptr));
        read->Timestamp = 7;
        read->Author = "old";
        read->FromJSON(nullptr, *Obj(c.Json));
        EXPECT_EQ(read->Timestamp, c.Expected < 0 ? 7 : c.Expected) << c.Json;
        EXPECT_EQ(read->Author, "") << "a missing author empties it";
    }
    EXPECT_EQ(MessageOf<EConvertError>([] { TimestampToString(1e12); }).rfind("Invalid time stamp", 0), 0u);
}

TEST_F(MetaModel, SegmentReferencesOnlyNodesReadBefore)
{
    auto model = MakeOwned<TTestModel>();
    model->Read(*Obj(R"({"Children": [
        {"Type": "Korvane.DefTypes.TTransformDef", "Id": "BOX"},
        {"Type": "Korvane.DefTypes.TSegmentDef", "Id": "s1", "Reference": "#box"},
        {"Type": "Korvane.DefTypes.TSegmentDef", "Id": "s2", "Reference": "Later"},
        {"Type": "Korvane.DefTypes.TSegmentDef", "Id": "s3"},
        {"Type": "Korvane.DefTypes.TTransformDef", "Id": "Later"}]})"));
    auto* s1 = dynamic_cast<TSegmentDef*>(model->FindChildById("s1", true));
    auto* s2 = dynamic_cast<TSegmentDef*>(model->FindChildById("s2", true));
    auto* s3 = dynamic_cast<TSegmentDef*>(model->FindChildById("s3", true));
    ASSERT_TRUE(s1 && s2 && s3);
    EXPECT_EQ(s1->Reference(), model->FindChildById("BOX", true));
    EXPECT_EQ(s2->Reference(), nullptr) << "written later in the file";
    EXPECT_EQ(s2->ReferenceId(), "Later");
    EXPECT_EQ(s3->Reference(), nullptr);
    EXPECT_EQ(s3->ToJSON()->GetValue("Reference")->ToJSON(), R"("")");
}

TEST(MetaDef, BehaviourDefinitionJSON)
{
    TMaterialBehaviourDef behaviour;
    // {8-4-4-4-12 upper-case hexadecimal digits}
    const std::string& id = behaviour.Id();
    ASSERT_EQ(id.size(), 38u);
    for (size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        if (i == 0) EXPECT_EQ(c, '{');
        else if (i == 37) EXPECT_EQ(c, '}');
        else if (i == 9 || i == 14 || i == 19 || i == 24) EXPECT_EQ(c, '-') << id;
        else EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c)) && !std::islower(static_cast<unsigned char>(c))) << id;
    }
    EXPECT_NE(TMaterialBehaviourDef().Id(), behaviour.Id());
    EXPECT_EQ(behaviour.ToJSON()->ToJSON(),
              R"({"Type":"TMaterialBehaviourDef","Id":")" + behaviour.Id() + R"(","PrefabClass":"","Properties":[]})");

    behaviour.PrefabClass = "TWaveBehaviour";
    behaviour.Properties().Add("Speed", TValue::From(2.5));
    TMaterialBehaviourDef read;
    read.FromJSON(nullptr, *behaviour.ToJSON());
    EXPECT_EQ(read.Id(), behaviour.Id());
    EXPECT_EQ(read.PrefabClass, "TWaveBehaviour");
    EXPECT_EQ(read.Properties().Items("Speed").AsExtended(), 2.5);
}

TEST(MetaDef, BitmapCacheLookupAndOwnership)
{
    TKorvaneBitmapCache cache(nullptr);
    const char* const names[] = {"D:\\other\\wood.png", "textures/wood.png", "C:\\tex\\wood.png", "stone.png"};
    for (const char* name : names) cache.Add()->SetFilename(name);
    struct Case {
        const char* Find;
        int Expected; // index into names, -1 for none
    };
    const Case cases[] = {
        {"C:\\tex\\wood.png", 2},   // an exact match wherever it stands
        {"E:\\wood.png", 0},        // else the first with the same file-name part
        {"X:wood.png", 0},          // a colon separates too
        {"Wood.png", -1},           // letter case counts
        {"wood.png", 0},
        {"textures/wood.png", 1},   // exact
        {"other/stone.png", -1},    // a forward slash does not separate
        {"stone.png", 3},
    };
    for (const Case& c : cases) {
        TKorvaneBitmapCacheEntry* found = cache.FindBitmap(c.Find);
        EXPECT_EQ(found, c.Expected < 0 ? nullptr : cache.Items(c.Expected)) << c.Find;
    }

    // A referenced bitmap outlives its entry; SetBitmap does not touch it.
    auto lent = MakeOwned<TBitmap>(4, 2);
    auto* entry = cache.Items(3);
    entry->SetBitmapReference("lent.png", lent.get());
    EXPECT_TRUE(entry->IsOnlyRef());
    EXPECT_EQ(entry->Filename(), "lent.png");
    TBitmap other(8, 8);
    entry->SetBitmap(&other);
    EXPECT_EQ(lent->Width(), 4);
    // Assigning into a lending entry gives it a bitmap of its own.
    cache.Items(0)->SetBitmap(&other);
    entry->Assign(cache.Items(0));
    EXPECT_FALSE(entry->IsOnlyRef());
    EXPECT_NE(entry->Bitmap(), lent.get());
    EXPECT_EQ(entry->Bitmap()->Width(), 8);
    EXPECT_EQ(lent->Width(), 4);
    cache.Items(1)->SetBitmapReference("lent.png", lent.get());
    cache.Clear();
    EXPECT_EQ(lent->Width(), 4) << "the lent bitmap is alive";
    EXPECT_THROW(cache.Add()->Assign(&other), EConvertError);
}
