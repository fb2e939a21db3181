#include <gtest/gtest.h>

#include "TestHelpers.h"

#include <clocale>
#include <locale>

#include "Platform.SysUtils.h"

using namespace korvane;
using namespace korvane::test;

TEST(Format, NumbersIgnoreTheProcessLocale)
{
    CommaDecimalLocale german;
    ASSERT_TRUE(german.Active()) << "the de_DE.UTF-8 locale is not installed";
    char probe[32];
    std::snprintf(probe, sizeof(probe), "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5") << "the comma-decimal locale is not in effect";

    EXPECT_EQ(Format("%.3f", 1.5), "1.500");
    EXPECT_EQ(Format("%g", 0.25), "0.25");
    EXPECT_EQ(Format("%n", 1234567.891), "1,234,567.89");
    EXPECT_DOUBLE_EQ(StrToFloat("2.75"), 2.75);
}

TEST(Format, Specifiers)
{
    struct Case {
        std::string got, expected;
    };
    const Case cases[] = {
        {Format("%d items", 42), "42 items"},
        {Format("%5d|%-5d|", 7, 7), "    7|7    |"},
        {Format("%.4d", 7), "0007"},
        {Format("%x", 255), "FF"},
        {Format("%s - %s", "a", std::string("b")), "a - b"},
        {Format("%.2f", -0.001), "0.00"},
        {Format("%f", 2.0), "2.00"},
        {Format("%e", 12345.678), "1.23456780000000E+004"},
        {Format("%.3e", -0.00012), "-1.20E-004"},
        {Format("%g", 100000.0), "100000"},
        {Format("%g", 1e20), "1E20"},
        {Format("%g", 1.5e-7), "1.5E-7"},
        {Format("%1:s%0:s", "x", "y"), "yx"},
        {Format("100%%"), "100%"},
        {Format("%u", -1), "4294967295"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(Format, MismatchedArgumentsRaise)
{
    EXPECT_THROW(Format("%d", "text"), EConvertError);
    EXPECT_THROW(Format("%s %s", "one"), EConvertError);
    EXPECT_THROW(Format("%f", 3), EConvertError);
    EXPECT_THROW(Format("%q", 1), EConvertError);
}

TEST(Format, WidthsPrecisionsAndIndexesAreBounded)
{
    // At the bound the text is made; one past it, or far past any integer
    // type, raises a clear EConvertError instead of allocating or escaping
    // with a standard exception.
    EXPECT_EQ(Format("%1000000d", 7).size(), 1000000u);
    EXPECT_EQ(Format("%.1000000d", 7).size(), 1000000u);
    EXPECT_EQ(Format("%*s", int64_t(FormatMaxWidth), "x").size(), 1000000u);
    struct Case {
        std::string text;
        const char* why;
    };
    const Case cases[] = {
        {Format("%%%dd", FormatMaxWidth + 1), "width one past the bound"},
        {"%9999999999d", "width beyond 32 bits"},
        {"%2000000000s", "width of 2 GB"},
        {"%.9999999999d", "precision beyond 32 bits"},
        {"%.2000000000s", "precision of 2 GB"},
        {"%-99999999999999999999999s", "width beyond 64 bits"},
        {"%99999999999999999999:d", "index beyond 64 bits"},
        {"%1000001:d", "index one past the bound"},
    };
    const std::string bound = "beyond " + std::to_string(FormatMaxWidth);
    for (const auto& c : cases) {
        const std::string message = MessageOf<EConvertError>([&] { Format(c.text, 7); });
        EXPECT_NE(message.find(bound), std::string::npos) << c.why << ": " << message;
    }
    // Widths and precisions taken from the arguments are held to the same bound.
    for (int64_t width : {FormatMaxWidth + 1, int64_t(2000000000), int64_t(9999999999), -FormatMaxWidth - 1,
                          INT64_MIN}) {
        EXPECT_NE(MessageOf<EConvertError>([&] { Format("%*d", width, 7); }).find(bound), std::string::npos)
            << width;
        EXPECT_NE(MessageOf<EConvertError>([&] { Format("%.*s", width, "x"); }).find(bound), std::string::npos)
            << width;
    }
}

TEST(FloatToStr, GeneralFormat)
{
    struct Case {
        double value;
        int precision;
        const char* expected;
    };
    const Case cases[] = {
        {1.0, 15, "1"},
        {0.35f, 15, "0.349999994039536"},
        {-2.5, 15, "-2.5"},
        {1e15, 15, "1E15"},
        {123456789012345.0, 15, "123456789012345"},
        {0.0001, 15, "0.0001"},
        {0.00001, 15, "1E-5"},
        {0.0, 15, "0"},
        {3.14159, 3, "3.14"},
    };
    for (const auto& c : cases) EXPECT_EQ(FloatToStrGeneral(c.value, c.precision), c.expected) << c.value;
}

TEST(StrToNumber, RejectsMalformedText)
{
    const char* badFloats[] = {"",    "1,5",  "abc", "1.5x", "--1",      "+",   "+-1", "-+1",
                               "inf", "-INF", "nan", "-nan", "Infinity", "1e400", "."};
    for (const char* s : badFloats) EXPECT_THROW(StrToFloat(s), EConvertError) << s;
    const char* badInts[] = {"", "1.0", "99999999999999999999", "12a", "-"};
    for (const char* s : badInts) EXPECT_THROW(StrToInt64(s), EConvertError) << s;
    EXPECT_EQ(StrToFloat(" -.5e1 "), -5.0);
    EXPECT_EQ(StrToFloat("+1.5"), 1.5);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_THROW(StrToInt("4294967296"), EConvertError);
}

TEST(FormatSettings, SeparatorDecidesNumberTextBothWays)
{
    const TFormatSettings enUS;
    TFormatSettings comma;
    comma.DecimalSeparator = ',';
    EXPECT_EQ(FloatToStr(2.5, enUS), "2.5");
    EXPECT_EQ(FloatToStr(2.5, comma), "2,5");
    EXPECT_EQ(FloatToStr(1e-7, comma), "1E-7");
    struct Case {
        const char* text;
        bool withComma;
        bool ok;
        double value;
    };
    const Case cases[] = {
        {"1.5", false, true, 1.5},   {"-.5", false, true, -0.5},  {"+2.", false, true, 2},
        {"1e3", false, true, 1000},  {"1.5E-2", false, true, 0.015}, {"1,5", false, false, 0},
        {"1,5", true, true, 1.5},    {"1.5", true, false, 0},     {" 1.5", false, false, 0},
        {"1.5 ", false, false, 0},   {"+-1", false, false, 0},    {".", false, false, 0},
        {"inf", false, false, 0},    {"nan", false, false, 0},    {"1e", false, false, 0},
        {"1e999", false, false, 0},  {"", false, false, 0},       {"1,000.5", false, false, 0},
    };
    for (const Case& c : cases) {
        double v = -99;
        EXPECT_EQ(TryStrToFloat(c.text, v, c.withComma ? comma : enUS), c.ok) << c.text;
        EXPECT_EQ(v, c.ok ? c.value : -99) << c.text;
    }
}

TEST(GUID, RegistryFormRoundTripsAndBadTextRaises)
{
    const std::string text = "{0123ABCD-4567-89EF-a0B1-C2D3E4F5A6B7}";
    const TGUID g = StringToGUID(text);
    EXPECT_EQ(g.D1, 0x0123ABCDu);
    EXPECT_EQ(g.D2, 0x4567u);
    EXPECT_EQ(g.D3, 0x89EFu);
    EXPECT_EQ(g.D4[0], 0xA0u);
    EXPECT_EQ(g.D4[7], 0xB7u);
    EXPECT_EQ(GUIDToString(g), "{0123ABCD-4567-89EF-A0B1-C2D3E4F5A6B7}");
    EXPECT_EQ(StringToGUID(GUIDToString(g)), g);
    EXPECT_TRUE(TGUID::Empty().IsEmpty());
    for (const char* bad : {"", "0123ABCD-4567-89EF-A0B1-C2D3E4F5A6B7", "{0123ABCD-4567-89EF-A0B1-C2D3E4F5A6B}",
                            "{0123ABCD-4567-89EF-A0B1-C2D3E4F5A6BG}", "{0123ABCD_4567-89EF-A0B1-C2D3E4F5A6B7}",
                            "{0123ABCD-4567-89EF-A0B1C-2D3E4F5A6B7}", " {0123ABCD-4567-89EF-A0B1-C2D3E4F5A6B7}"}) {
        TGUID out;
        EXPECT_FALSE(TryStringToGUID(bad, out)) << bad;
    }
    try {
        StringToGUID("{x}");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'{x}' is not a valid GUID value");
    }
}

TEST(UTF8, ValidationFindsFaultsAfterLongASCIIRuns)
{
    const std::string ascii(19, 'a'); // more than two whole eight-byte steps
    struct Case {
        std::string text;
        bool valid;
    } cases[] = {
        {"", true},
        {ascii, true},
        {ascii + "\xC3\xA9" + ascii + "\xF0\x9F\x98\x80", true},
        {ascii + "\xFF", false},
        {ascii + "\xC0\xAF" + ascii, false},        // overlong
        {ascii + "\xED\xA0\x80" + ascii, false},    // surrogate
        {ascii + "\xF4\x90\x80\x80", false},        // beyond U+10FFFF
        {ascii + "\xE2\x82", false},                // cut short
        {std::string(8, 'b') + "\x80" + ascii, false}, // stray continuation after one whole step
    };
    for (const auto& c : cases) EXPECT_EQ(IsValidUTF8(c.text), c.valid) << c.text.size();
}
