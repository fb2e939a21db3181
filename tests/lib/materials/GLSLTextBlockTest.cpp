#include <gtest/gtest.h>

#include "Korvane.Material.Default.GLSL.Text.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::glsl;

// The GLSL of the node library is written as raw string blocks; these cases
// pin how a block becomes generated text.
TEST(GLSLTextBlock, BlocksBecomeCRLFLinesWithTheirPlaceholdersFilled)
{
    struct TCase {
        const char* Name;
        std::string_view Block;
        std::initializer_list<TArg> Args;
        std::string Expected;
    };
    const TCase cases[] = {
        {"the break after the opening is dropped", "\n  a;\n  b;\n", {}, "  a;\r\n  b;\r\n"},
        {"only one leading break is dropped", "\n\nx\n", {}, "\r\nx\r\n"},
        {"no trailing break is added", "  a;", {}, "  a;"},
        {"blank lines stay", "a\n\n", {}, "a\r\n\r\n"},
        {"every placeholder of a name is filled", "${V}x = ${V}y;\n", {{"V", "vars."}}, "vars.x = vars.y;\r\n"},
        {"several names", "${A}(${B});", {{"A", "f"}, {"B", "1.0"}}, "f(1.0);"},
        {"an empty value", "${V}v_TBN", {{"V", ""}}, "v_TBN"},
        {"a value is put in as it is", "${L}", {{"L", "a\nb"}}, "a\nb"},
        {"a dollar without a brace is text", "$x $", {}, "$x $"},
    };
    for (const TCase& c : cases) {
        std::string out = "keep ";
        AppendBlock(out, c.Block, c.Args);
        EXPECT_EQ(out, "keep " + c.Expected) << c.Name;
    }
}

TEST(GLSLTextBlock, APlaceholderWithoutValueIsAFault)
{
    std::string out;
    EXPECT_EQ(test::MessageOf([&] { AppendBlock(out, "a = ${Missing};", {{"Other", "1"}}); }),
              "GLSL text block: no value for placeholder \"Missing\"");
    EXPECT_EQ(test::MessageOf([&] { AppendBlock(out, "a = ${Open", {}); }),
              "GLSL text block: unterminated placeholder");
}

TEST(GLSLTextBlock, LinesAndBlocksShareOneText)
{
    const std::string text = TGLSLText().L("a;").L("b;", 4).Blank().Block("\nc;\n").Take();
    EXPECT_EQ(text, "  a;\r\n    b;\r\n\r\nc;\r\n");
}
