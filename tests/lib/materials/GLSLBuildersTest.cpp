#include <gtest/gtest.h>

#include <set>

#include "Korvane.Context.h"
#include "ShaderTestSupport.h"

using namespace korvane;
using namespace korvane::test;

TEST(GLSLBuilders, PlatformDefinesComeFromTheGLStrings)
{
    const TFixedGLStrings strings("Mesa Test", "llvmpipe (LLVM 15.0.6, 256 bits)", "4.6.0 NVIDIA 535.104.05",
                                  "GL_ARB_one GL_ext_Two  GL_THREE ");
    auto vs = TKorvaneGLSLVertexShader::Create(nullptr, &strings);
    EXPECT_EQ(vs->Vendor(), "Mesa Test");
    EXPECT_EQ(vs->Renderer(), "llvmpipe (LLVM 15.0.6, 256 bits)");
    EXPECT_EQ(vs->Version(), "4.6.0 NVIDIA 535.104.05");
    EXPECT_EQ(vs->Extensions(), (std::vector<std::string>{"GL_ARB_one", "GL_ext_Two", "GL_THREE"}));

    for (const char* define : {KorvanePlatformDefine, "MESA TEST", "LLVMPIPE (LLVM 15.0.6, 256 BITS)", "4.6.0",
                               "GL_ARB_ONE", "GL_EXT_TWO", "GL_THREE"}) {
        ASSERT_TRUE(vs->Defined(define)) << define;
        EXPECT_TRUE(vs->Defines().at(define).AsBoolean()) << define;
    }
    EXPECT_FALSE(vs->Defined("NVIDIA")) << "only the first word of the version";
    EXPECT_FALSE(vs->Defined("")) << "no empty extension names";
    // Platform, vendor, renderer, version, three extensions and three stage defines.
    EXPECT_EQ(vs->Defines().size(), 10u);
}

TEST(GLSLBuilders, MissingPlatformStringsGiveNoError)
{
    const TFixedGLStrings empty("", "", "", "");
    auto fs = TKorvaneGLSLFragmentShader::Create(nullptr, &empty);
    EXPECT_TRUE(fs->Extensions().empty());
    // The platform define, one empty-named define for vendor and renderer, no version,
    // and the four fragment defines.
    EXPECT_EQ(fs->Defines().size(), 6u);
    EXPECT_NE(fs->ToString().find("void main(){"), std::string::npos);
}

TEST(GLSLBuilders, StageDefines)
{
    TShaderPair pair;
    for (const char* define : {"VERTEXSHADER", "VARYING_STRUCTS", "INOUTVARS"}) EXPECT_TRUE(pair.VS->Defined(define));
    EXPECT_FALSE(pair.VS->Defined("FRAGMENTSHADER"));
    EXPECT_FALSE(pair.VS->Defined("USE_EMISSIVE"));
    for (const char* define : {"FRAGMENTSHADER", "VARYING_STRUCTS", "INOUTVARS", "USE_EMISSIVE"})
        EXPECT_TRUE(pair.FS->Defined(define));
    EXPECT_FALSE(pair.FS->Defined("VERTEXSHADER"));
    EXPECT_EQ(pair.VS->Globals()->FindNode<TKorvaneGLSLUBOShaderData>("", true)->Binding(), 0);
}

// Without strings of its own a builder asks the render context's class
// functions, which answer the GL strings of the context in use.
TEST(GLSLBuilders, ContextStringsComeFromTheRenderContext)
{
    EnsureGLContext();
    auto vs = TKorvaneGLSLVertexShader::Create(nullptr);
    EXPECT_EQ(vs->Vendor(), TKorvaneContext::GetVendorName());
    EXPECT_EQ(vs->Renderer(), TKorvaneContext::GetRendererName());
    EXPECT_EQ(vs->Version(), TKorvaneContext::GetVersion());
    EXPECT_EQ(vs->Vendor(), reinterpret_cast<const char*>(glGetString(GL_VENDOR)));
    EXPECT_EQ(vs->Renderer(), reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    EXPECT_EQ(vs->Version(), reinterpret_cast<const char*>(glGetString(GL_VERSION)));

    // The same extensions as GL enumerates one by one (the string lists them in its own order).
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    ASSERT_GT(count, 0);
    std::set<std::string> enumerated;
    for (GLint i = 0; i < count; ++i)
        enumerated.insert(reinterpret_cast<const char*>(glGetStringi(GL_EXTENSIONS, GLuint(i))));
    ASSERT_EQ(vs->Extensions().size(), size_t(count));
    EXPECT_EQ(std::set<std::string>(vs->Extensions().begin(), vs->Extensions().end()), enumerated);
    for (const std::string& extension : vs->Extensions()) EXPECT_TRUE(vs->Defined(UpperCase(extension))) << extension;
    EXPECT_TRUE(vs->Defined(UpperCase(vs->Vendor())));
}

TEST(GLSLBuilders, NoFeatureShadersCompileAndLink)
{
    TShaderPair pair;
    std::string error;
    GLuint program = BuildProgram(pair.VS->ToString(), pair.FS->ToString(), "no features", error);
    EXPECT_NE(program, 0u) << error;
    if (program) glDeleteProgram(program);
}

TEST(GLSLBuilders, TextFollowsTheDefinesWithoutRebuilding)
{
    TShaderPair pair;
    const std::string plain = pair.FS->ToString();
    EXPECT_EQ(plain.find("LOCALS.Attenuation"), std::string::npos);
    pair.Fragment({"LIGHTING"});
    EXPECT_NE(pair.FS->ToString().find("  LOCALS.Attenuation = 1.0;\r\n"), std::string::npos);
    pair.FS->RemoveDefine("LIGHTING");
    EXPECT_EQ(pair.FS->ToString(), plain);
}

TEST(GLSLBuilders, TextUsesCRLFAndEnUSNumbersInAnyLocale)
{
    auto generate = [] {
        TShaderPair pair;
        pair.Both({"LIGHTING", "USE_TEXTURE", "SHADOW", "SHADOWMAPPING", "CLIPPINGPLANE"});
        pair.Fragment({"PBR", "TONEMAP_UNCHARTED2"});
        return pair.VS->ToString() + pair.FS->ToString();
    };
    const std::string classic = generate();
    for (size_t i = 0; i < classic.size(); ++i) {
        if (classic[i] == '\n') {
            ASSERT_TRUE(i > 0 && classic[i - 1] == '\r') << "bare LF at " << i;
        }
        if (classic[i] == '\r') {
            ASSERT_TRUE(i + 1 < classic.size() && classic[i + 1] == '\n') << "bare CR at " << i;
        }
    }
    EXPECT_NE(classic.find("LOCALS.Attenuation = 1.0;"), std::string::npos);
    EXPECT_NE(classic.find("LOCALS.Ambient = vec3(0.00, 0.00, 0.00);"), std::string::npos);

    CommaDecimalLocale german;
    ASSERT_TRUE(german.Active()) << "the de_DE.UTF-8 locale is not installed";
    char probe[16];
    std::snprintf(probe, sizeof(probe), "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5") << "the comma-decimal locale is not in effect";
    EXPECT_EQ(generate(), classic);
}
