#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "Platform.Classes.h"
#include "Platform.Math3D.h"
#include "Platform.Rtti.h"
#include "TestHelpers.h"

namespace korvane {
namespace rtti_test {

// Stand-ins for record types declared in other units.
struct TPairF {
    float X = 0, Y = 0;
    bool operator==(const TPairF&) const = default;
};
std::string ToString(const TPairF& p) { return FloatToStr(p.X) + " " + FloatToStr(p.Y); }

struct TOpaque { // no ==, no text form
    std::vector<int> Items;
};

enum class TShade : uint8_t { Light, Medium, Dark };
enum class TUnnamed { A, B };

class TAnimal : public TObject {
public:
    std::string ClassName() const override { return "TAnimal"; }
};
class TDog : public TAnimal {
public:
    std::string ClassName() const override { return "TDog"; }
};
class TStone : public TObject {};

} // namespace rtti_test

KORVANE_ENUM_NAMES(rtti_test::TShade, "Light", "Medium", "Dark");

} // namespace korvane

using namespace korvane;
using namespace korvane::rtti_test;

TEST(TValue, ScalarsKeepKindTypeAndValue)
{
    struct Case {
        TValue value;
        TTypeKind kind;
        const char* typeName;
        const char* text;
    };
    const Case cases[] = {
        {TValue(), tkUnknown, "", "(empty)"},
        {TValue::From(true), tkEnumeration, "Boolean", "True"},
        {TValue::From(int32_t(-7)), tkInteger, "Integer", "-7"},
        {TValue::From(int16_t(-3)), tkInteger, "Integer", "-3"},
        {TValue::From(uint32_t(4000000000u)), tkInteger, "Cardinal", "4000000000"},
        {TValue::From(int64_t(-9000000000LL)), tkInt64, "Int64", "-9000000000"},
        {TValue::From(std::numeric_limits<uint64_t>::max()), tkInt64, "UInt64", "18446744073709551615"},
        {TValue::From(0.35f), tkFloat, "Single", "0.349999994039536"},
        {TValue::From(0.35), tkFloat, "Double", "0.35"},
        {TValue::From(1e20), tkFloat, "Double", "1E20"},
        {TValue::From("text"), tkString, "string", "text"},
        {TValue::From(std::string("abc")), tkString, "string", "abc"},
        {TValue::From('c'), tkString, "string", "c"},
        {TValue::From(TShade::Dark), tkEnumeration, "TShade", "Dark"},
        {TValue::From(TUnnamed::B), tkEnumeration, "TUnnamed", "1"},
        {TValue::From(TPairF{1.5f, -2}), tkRecord, "TPairF", "1.5 -2"},
        {TValue::From(TOpaque{{1, 2}}), tkRecord, "TOpaque", "(record)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.value.Kind(), c.kind);
        EXPECT_EQ(c.value.TypeName(), c.typeName);
        EXPECT_EQ(c.value.ToString(), c.text);
        EXPECT_EQ(c.value.IsEmpty(), c.kind == tkUnknown);
    }
}

TEST(TValue, RoundTripsThroughAsAndAsType)
{
    EXPECT_EQ(TValue::From(int32_t(-7)).AsInteger(), -7);
    EXPECT_EQ(TValue::From(int32_t(-7)).AsInt64(), -7);
    EXPECT_EQ(TValue::From(int64_t(1) << 40).AsInt64(), int64_t(1) << 40);
    EXPECT_EQ(TValue::From(uint64_t(1) << 63).AsUInt64(), uint64_t(1) << 63);
    EXPECT_EQ(TValue::From(uint8_t(200)).AsType<uint8_t>(), 200);
    EXPECT_TRUE(TValue::From(true).AsBoolean());
    EXPECT_EQ(TValue::From(true).AsOrdinal(), 1);
    EXPECT_EQ(TValue::From(TShade::Medium).AsOrdinal(), 1);
    EXPECT_EQ(TValue::From(TShade::Medium).AsType<TShade>(), TShade::Medium);
    EXPECT_DOUBLE_EQ(TValue::From(int32_t(3)).AsExtended(), 3.0);
    EXPECT_EQ(TValue::From(0.1f).AsType<float>(), 0.1f);
    EXPECT_DOUBLE_EQ(TValue::From(0.1f).AsExtended(), double(0.1f));
    EXPECT_EQ(TValue::From(0.1).AsType<double>(), 0.1);
    EXPECT_EQ(TValue::From("hello").AsString(), "hello");

    const TValue p = TValue::From(TPairF{1, 2});
    EXPECT_TRUE(p.IsType<TPairF>());
    EXPECT_FALSE(p.IsType<TOpaque>());
    EXPECT_EQ(p.AsType<TPairF>(), (TPairF{1, 2}));
    const TValue copy = p; // records are values: a copy is independent and equal
    EXPECT_EQ(copy, p);
    EXPECT_EQ(TValue::From(TOpaque{{4, 5, 6}}).AsType<TOpaque>().Items, (std::vector<int>{4, 5, 6}));

    TDog dog;
    const TValue o = TValue::From(&dog);
    EXPECT_EQ(o.Kind(), tkClass);
    EXPECT_EQ(o.TypeName(), "TDog");
    EXPECT_EQ(o.AsObject(), &dog);
    EXPECT_EQ(o.AsType<TAnimal*>(), &dog);
    EXPECT_TRUE(o.IsType<TAnimal*>());
    EXPECT_FALSE(o.IsType<TStone*>());
    EXPECT_EQ(o.ToString().rfind("(TDog @ ", 0), 0u);

    const TValue nil = TValue::From<TDog*>(nullptr);
    EXPECT_EQ(nil.Kind(), tkClass);
    EXPECT_TRUE(nil.IsEmpty());
    EXPECT_EQ(nil.AsType<TStone*>(), nullptr);
}

TEST(TValue, SingleAndDoubleStayApart)
{
    const TValue s = TValue::From(0.5f), d = TValue::From(0.5);
    EXPECT_TRUE(s.IsType<float>());
    EXPECT_FALSE(s.IsType<double>());
    EXPECT_TRUE(d.IsType<double>());
    EXPECT_FALSE(d.IsType<float>());
    EXPECT_EQ(s, d); // the same number
    EXPECT_NE(TValue::From(0.1f), TValue::From(0.1)); // 0.1f is not 0.1
}

TEST(TValue, EmptyReadsAsZeroOfEveryType)
{
    const TValue e;
    EXPECT_EQ(e.AsInteger(), 0);
    EXPECT_EQ(e.AsInt64(), 0);
    EXPECT_FALSE(e.AsBoolean());
    EXPECT_EQ(e.AsExtended(), 0.0);
    EXPECT_EQ(e.AsString(), "");
    EXPECT_EQ(e.AsObject(), nullptr);
    EXPECT_EQ(e.AsType<TPairF>(), (TPairF{}));
    EXPECT_FALSE(e.IsType<int32_t>());
}

TEST(TValue, MeaninglessConversionsRaiseInvalidCast)
{
    TDog dog;
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"string as integer", [] { (void)TValue::From("12").AsInteger(); }},
        {"string as float", [] { (void)TValue::From("1.5").AsExtended(); }},
        {"integer as string", [] { (void)TValue::From(12).AsString(); }},
        {"integer as boolean", [] { (void)TValue::From(1).AsBoolean(); }},
        {"boolean as integer", [] { (void)TValue::From(true).AsInteger(); }},
        {"float as integer", [] { (void)TValue::From(2.0).AsInteger(); }},
        {"Int64 beyond Integer", [] { (void)TValue::From(int64_t(1) << 31).AsInteger(); }},
        {"Cardinal beyond Integer", [] { (void)TValue::From(uint32_t(3000000000u)).AsInteger(); }},
        {"UInt64 beyond Int64", [] { (void)TValue::From(std::numeric_limits<uint64_t>::max()).AsInt64(); }},
        {"negative as UInt64", [] { (void)TValue::From(-1).AsUInt64(); }},
        {"integer beyond uint8_t", [] { (void)TValue::From(256).AsType<uint8_t>(); }},
        {"integer as object", [] { (void)TValue::From(5).AsObject(); }},
        {"object as string", [&dog] { (void)TValue::From(&dog).AsString(); }},
        {"object of another class", [&dog] { (void)TValue::From(&dog).AsType<TStone*>(); }},
        {"record as another record", [] { (void)TValue::From(TPairF{}).AsType<TOpaque>(); }},
        {"record as integer", [] { (void)TValue::From(TPairF{}).AsInteger(); }},
        {"integer as record", [] { (void)TValue::From(1).AsType<TPairF>(); }},
        {"enumeration as another enumeration", [] { (void)TValue::From(TShade::Dark).AsType<TUnnamed>(); }},
        {"record as ordinal", [] { (void)TValue::From(TPairF{}).AsOrdinal(); }},
        {"long string as char", [] { (void)TValue::From("ab").AsType<char>(); }},
    };
    for (const auto& [name, call] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(test::MessageOf<EInvalidCast>(call), "Invalid class typecast");
    }
    int32_t out = 42;
    EXPECT_FALSE(TValue::From("x").TryAsType(out));
    EXPECT_EQ(out, 42);
    EXPECT_TRUE(TValue::From(int64_t(-5)).TryAsType(out));
    EXPECT_EQ(out, -5);
}

TEST(TValue, Equality)
{
    TDog a, b;
    struct Case {
        const char* name;
        TValue x, y;
        bool equal;
    };
    const Case cases[] = {
        {"empty", TValue(), TValue(), true},
        {"Integer and Int64 of one value", TValue::From(5), TValue::From(int64_t(5)), true},
        {"Cardinal and UInt64", TValue::From(uint32_t(7)), TValue::From(uint64_t(7)), true},
        {"-1 and UInt64 max", TValue::From(-1), TValue::From(std::numeric_limits<uint64_t>::max()), false},
        {"integer and float", TValue::From(1), TValue::From(1.0), false},
        {"strings", TValue::From("a"), TValue::From(std::string("a")), true},
        {"strings are case sensitive", TValue::From("a"), TValue::From("A"), false},
        {"booleans", TValue::From(true), TValue::From(true), true},
        {"boolean and enumeration", TValue::From(true), TValue::From(TShade::Medium), false},
        {"enumerations", TValue::From(TShade::Dark), TValue::From(TShade::Dark), true},
        {"same ordinal, other enumeration", TValue::From(TShade::Medium), TValue::From(TUnnamed::B), false},
        {"records", TValue::From(TPairF{1, 2}), TValue::From(TPairF{1, 2}), true},
        {"records differ", TValue::From(TPairF{1, 2}), TValue::From(TPairF{1, 3}), false},
        {"records without ==", TValue::From(TOpaque{}), TValue::From(TOpaque{}), false},
        {"same object", TValue::From(&a), TValue::From(&a), true},
        {"other object", TValue::From(&a), TValue::From(&b), false},
        {"empty and zero", TValue(), TValue::From(0), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.x == c.y, c.equal);
        EXPECT_EQ(c.y == c.x, c.equal);
    }
}

TEST(TValue, EnumerationNames)
{
    TShade s = TShade::Light;
    EXPECT_TRUE(TryGetEnumValue("dark", s));
    EXPECT_EQ(s, TShade::Dark);
    EXPECT_FALSE(TryGetEnumValue("Pale", s));
    EXPECT_EQ(GetEnumName(static_cast<TShade>(9)), "9");
    EXPECT_EQ(TValue::From(static_cast<TShade>(9)).ToString(), "9");
}

TEST(TValue, NumbersIgnoreTheProcessLocale)
{
    korvane::test::CommaDecimalLocale german;
    ASSERT_TRUE(german.Active()) << "the de_DE.UTF-8 locale is not installed";
    EXPECT_EQ(TValue::From(1.25f).ToString(), "1.25");
    EXPECT_EQ(TValue::From(-1234.5).ToString(), "-1234.5");
}

TEST(TValue, HoldsThePlatformMathRecords)
{
    const TMatrix3D m = TMatrix3D::Identity();
    struct Case {
        TValue value;
        const char* typeName;
    };
    const Case cases[] = {
        {TValue::From(TPointF(1, 2)), "TPointF"},
        {TValue::From(TPoint3D(1, 2, 3)), "TPoint3D"},
        {TValue::From(TVector3D(1, 2, 3, 1)), "TVector3D"},
        {TValue::From(m), "TMatrix3D"},
        {TValue::From(TQuaternion3D::Identity()), "TQuaternion3D"},
        {TValue::From(TAlphaColorF(1, 0.5f, 0, 1)), "TAlphaColorF"},
        {TValue::From(TRectF(0, 0, 4, 3)), "TRectF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typeName);
        EXPECT_EQ(c.value.Kind(), tkRecord);
        EXPECT_EQ(c.value.TypeName(), c.typeName);
        EXPECT_EQ(c.value, TValue(c.value));
    }
    EXPECT_EQ(TValue::From(TPoint3D(1, 2, 3)).AsType<TPoint3D>(), TPoint3D(1, 2, 3));
    EXPECT_EQ(TValue::From(m).AsType<TMatrix3D>(), m);
    EXPECT_NE(TValue::From(TPoint3D(1, 2, 3)), TValue::From(TPoint3D(1, 2, 4)));
    EXPECT_THROW((void)TValue::From(TPoint3D(1, 2, 3)).AsType<TVector3D>(), EInvalidCast);
}
