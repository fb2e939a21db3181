#include <gtest/gtest.h>

#include "Platform.Math3D.h"
#include "ShaderTestSupport.h"

using namespace korvane;
using namespace korvane::test;

namespace {

int CountOf(const std::string& AText, const std::string& APart)
{
    int n = 0;
    for (size_t at = AText.find(APart); at != std::string::npos; at = AText.find(APart, at + APart.size())) ++n;
    return n;
}

TKorvaneShaderNodeVariable Var(const char* AName, TKorvaneShaderNodeVariableType AType, TValue AValue = {})
{
    TKorvaneShaderNodeVariable v;
    v.Name = AName;
    v._Type = AType;
    v.Value = std::move(AValue);
    return v;
}

} // namespace

TEST(GLSLSerializers, Variables)
{
    TKorvaneShaderNodeVariable lights = Var("_Lights", stCustom);
    lights.TypeName = "Light";
    lights.IsArray = true;
    lights.ArrayCount = 32;
    TKorvaneShaderNodeVariable s = Var("s", stStruct);

    struct Case {
        TKorvaneShaderNodeVariable Variable;
        TValue Value;
        bool WithType, WithValue;
        std::string Text;
    };
    const Case cases[] = {
        {lights, {}, true, false, "Light _Lights[32]"},
        {Var("i", stInt), TValue::From<int32_t>(0), true, true, "int i = 0"},
        {Var("Attenuation", stFloat, TValue::From<float>(1)), {}, false, true, "Attenuation = 1.0"},
        // The given value takes the place of the default.
        {Var("Attenuation", stFloat, TValue::From<float>(1)), TValue::From<float>(0.5f), true, true,
         "float Attenuation = 0.5"},
        {Var("Attenuation", stFloat, TValue::From<float>(1)), {}, true, false, "float Attenuation"},
        {Var("m", stMat44), {}, true, true, "mat4 m"},
        {s, {}, true, false, "struct s{}"},
        {Var("t", stSamplerCube), {}, true, false, "samplerCube t"},
        {Var("u", stUVec3), {}, true, false, "uvec3 u"},
        {Var("n", stMat33), {}, true, false, "mat3 n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SerializeVariable(c.Variable, c.Value, c.WithType, c.WithValue), c.Text);

    EXPECT_EQ(MessageOf([] { SerializeVariable(Var("x", static_cast<TKorvaneShaderNodeVariableType>(22)), {}, true, false); }),
              "failed to serialize variable type - invalid variable type");
}

TEST(GLSLSerializers, Constants)
{
    const TMatrix m3(1, 2, 3, 4, 5, 6, 7, 8, 9);
    TMatrix3D m4 = TMatrix3D::Identity();
    m4.m41 = 0.25f; // translation row: written fourth
    struct Case {
        TValue Value;
        std::string Text;
    };
    const Case cases[] = {
        {TValue::From<int32_t>(0), "0"},
        {TValue::From<int32_t>(-3), "-3"},
        {TValue::From<int64_t>(int64_t(1) << 40), "1099511627776"},
        {TValue::From(true), "true"},
        {TValue::From(false), "false"},
        {TValue::From<float>(1), "1.0"},
        {TValue::From(0.0), "0.0"},
        {TValue::From(0.5), "0.5"},
        {TValue::From(-2.25), "-2.25"},
        {TValue::From(TPoint3D(0, 0, 0)), "vec3(0.00, 0.00, 0.00)"},
        {TValue::From(TAlphaColorF(1, 1, 1, 1)), "vec4(1.00, 1.00, 1.00, 1.00)"},
        {TValue::From(TPointF(0.25f, 1)), "vec2(0.25, 1.00)"},
        {TValue::From(TPoint(3, -4)), "ivec2(3, -4)"},
        {TValue::From(TVector3D(1, 2, 3, 4)), "vec4(1.00, 2.00, 3.00, 4.00)"},
        {TValue::From(m3), "mat3(1.00, 2.00, 3.00, 4.00, 5.00, 6.00, 7.00, 8.00, 9.00)"},
        {TValue::From(m4), "mat4(1.00, 0.00, 0.00, 0.00, 0.00, 1.00, 0.00, 0.00, 0.00, 0.00, 1.00, 0.00, 0.25, 0.00, "
                           "0.00, 1.00)"},
        // Values GLSL could not read in the grouped or ".0"-suffixed forms.
        {TValue::From(TPoint3D(1234.5f, 0, 0)), "vec3(1234.50, 0.00, 0.00)"},
        {TValue::From(1e-6), "1E-6"},
    };
    for (const auto& c : cases) EXPECT_EQ(SerializeConstant(c.Value), c.Text);
}

TEST(GLSLSerializers, ConstantsOfOtherKindsFail)
{
    enum class TOther : uint8_t { One };
    struct TUnknownRecord {
        int A = 0;
    };
    EXPECT_EQ(MessageOf([] { SerializeConstant(TValue::From(std::string("text"))); }),
              "failed to serialize constant value: invalid constant value type \"string\" [4]");
    EXPECT_EQ(MessageOf([] { SerializeConstant(TValue::From(TOther::One)); }),
              "failed to serialize constant value: invalid constant value type");
    EXPECT_EQ(MessageOf([] { SerializeConstant(TValue::From(TUnknownRecord{})); }),
              "failed to serialize constant value: invalid constant value type");
}

TEST(GLSLDeclarations, SmallNodeTexts)
{
    TShaderPair pair;
    TKorvaneNodeBuilder* b = pair.VS.get();
    EXPECT_EQ(TKorvaneGLSLPragma(b).ToString(), "#version 430\r\n\r\n\r\n");
    EXPECT_EQ(TKorvaneGLSLConstantValue::Build(b, "c", TValue::From<float>(2))->ToString(), "2.0");
    auto variable = TKorvaneGLSLVariable::Build(b, "i", stInt);
    EXPECT_EQ(variable->ToString(), "int i");
    variable->SetConditionalValue("VERTEXSHADER", TValue::From<int32_t>(4));
    EXPECT_EQ(variable->ToString(), "int i = 4");
    EXPECT_EQ(TKorvaneGLSLVariable(b).Definition()._Type, stInt);

    TKorvaneGLSLUniformsNode uniforms(b);
    uniforms.AddDeclaration("_UseBlackAsTransparent", stInt);
    uniforms.AddDeclaration("_Scale", stFloat, "", false, 0, TValue::From(0.5));
    EXPECT_EQ(uniforms.ToString(), "uniform int _UseBlackAsTransparent;\r\nuniform float _Scale = 0.5;\r\n");
}

TEST(GLSLDeclarations, LayoutLocations)
{
    TShaderPair pair;
    TKorvaneNodeBuilder* b = pair.FS.get();
    using K = TKorvaneGLSLLayoutKind;
    EXPECT_EQ(TKorvaneGLSLLayoutLocation(b, K::LayoutOutput, 0, "o_Albedo", stVec4).ToString(),
              "layout (location = 0) out vec4 o_Albedo;\r\n\r\n");
    EXPECT_EQ(TKorvaneGLSLLayoutLocation(b, K::LayoutInput, 3, "a_Normal", stVec3).ToString(),
              "layout (location = 3) in vec3 a_Normal;\r\n\r\n");
    TKorvaneGLSLLayoutLocation plain(b, K::LayoutOutput, 2, "o_Alpha", stFloat);
    plain.SetIsLayout(false);
    EXPECT_EQ(plain.ToString(), "out float o_Alpha;\r\n\r\n");
    plain.SetKind(K::LayoutInput);
    EXPECT_EQ(plain.ToString(), "in float o_Alpha;\r\n\r\n");
    plain.SetKind(static_cast<K>(7));
    EXPECT_EQ(MessageOf([&] { plain.ToString(); }), "invalid kind of layout location");
    EXPECT_EQ(MessageOf([&] { TKorvaneGLSLLayoutLocation(b).ToString(); }),
              "layout location, missing variable declaration");
}

TEST(GLSLDeclarations, ShaderDataBlockAndItsStructs)
{
    TShaderPair pair;
    const std::string vs = pair.VS->ToString();

    const std::string head = "layout (binding=0, std140) uniform ShaderData{\r\n";
    const size_t start = vs.find(head);
    ASSERT_NE(start, std::string::npos);
    const size_t end = vs.find("};\r\n\r\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string block = vs.substr(start + head.size(), end - start - head.size());
    EXPECT_EQ(CountOf(block, ";\r\n"), 27);
    EXPECT_EQ(CountOf(block, "\r\n  "), 26) << "one indented member per line";
    for (const char* member : {"  mat4 _ModelViewProjectionMatrix;\r\n", "  vec3 _ViewDir;\r\n  int _ShadingModel;\r\n",
                               "  Material _Material[1];\r\n", "  Light _Lights[32];\r\n", "  int _LightsCount;\r\n",
                               "  vec4 _ClippingPlane;\r\n  PassData _PassData[1];\r\n"})
        EXPECT_NE(block.find(member), std::string::npos) << member;

    EXPECT_NE(vs.find("  Texture _Texture[16];\r\n};\r\n\r\n"), std::string::npos);
    EXPECT_NE(vs.find("struct PassData{\r\n  mat4 _ShadowMapMatrix[8];\r\n"), std::string::npos);
    EXPECT_NE(vs.find("struct Texture{\r\n  vec4 _Feature;\r\n  vec2 _Tiling;\r\n};\r\n\r\n"), std::string::npos);
    // The structs come before the block that uses them.
    EXPECT_LT(vs.find("struct Light{"), start);
    EXPECT_LT(vs.find("struct Material{"), start);

    // A further block of the same builder takes the next binding.
    TKorvaneGLSLUBO second(pair.VS.get(), 77);
    second.SetId("Extra");
    second.AddDeclaration("_Value", stFloat);
    EXPECT_EQ(second.ReferenceID(), 77u);
    EXPECT_EQ(second.ToString(), "layout (binding=1, std140) uniform Extra{\r\n  float _Value;\r\n};\r\n\r\n");
}

TEST(GLSLDeclarations, VaryingForms)
{
    TShaderPair pair;
    const std::string vs = pair.VS->ToString(), fs = pair.FS->ToString();
    EXPECT_NE(vs.find("};\r\nout TVaryingStruct vars;\r\n"), std::string::npos);
    EXPECT_NE(fs.find("};\r\nin TVaryingStruct vars;\r\n"), std::string::npos);
    EXPECT_EQ(vs.find("v_ViewDir"), std::string::npos);
    EXPECT_EQ(vs.find("v_ClipDistance"), std::string::npos);

    pair.Both({"CLIPPINGPLANE", "REFLECTION", "USE_TEXCOORD2"});
    EXPECT_NE(pair.VS->ToString().find("  float v_ClipDistance;\r\n"), std::string::npos);
    EXPECT_NE(pair.FS->ToString().find("  vec4 v_ReflProjTextureCoords;\r\n"), std::string::npos);
    EXPECT_NE(pair.FS->ToString().find("  vec2 v_TexCoord2;\r\n"), std::string::npos);

    // Separate variables without the struct form; the old keywords without in/out.
    TKorvaneGLSLInOutNode out(pair.VS.get(), TKorvaneGLSLInOutMode::VaryingOut);
    pair.VS->RemoveDefine("VARYING_STRUCTS");
    const std::string bare = out.ToString();
    EXPECT_EQ(bare.find("TVaryingStruct"), std::string::npos);
    EXPECT_NE(bare.find("out vec3 v_ViewDir;\r\n"), std::string::npos);
    EXPECT_NE(bare.find("out vec4 v_VertPos;\r\n"), std::string::npos);
    pair.VS->RemoveDefine("INOUTVARS");
    EXPECT_NE(out.ToString().find("varying vec4 v_VertPos;\r\n"), std::string::npos);

    pair.VS->AddDefine("INOUTVARS");
    out.SetMode(static_cast<TKorvaneGLSLInOutMode>(5));
    EXPECT_EQ(MessageOf([&] { out.ToString(); }), "invalid output/input indicator");
}

TEST(GLSLDeclarations, Attributes)
{
    TShaderPair pair;
    TKorvaneGLSLAttributesNode attributes(pair.VS.get());
    const std::string text = attributes.ToString();
    EXPECT_EQ(text.rfind("in vec3 a_Position;\r\n", 0), 0u);
    EXPECT_NE(text.find("in mat4 a_ModelMatrix;\r\n\r\n"), std::string::npos);
    EXPECT_EQ(CountOf(text, "in "), 13);
    pair.VS->RemoveDefine("INOUTVARS");
    EXPECT_EQ(attributes.ToString().rfind("attribute vec3 a_Position;\r\n", 0), 0u);
}

TEST(GLSLDeclarations, TextureSamplers)
{
    TShaderPair pair;
    using K = TKorvaneTextureKind;
    struct Case {
        K Kind;
        bool Unsigned;
        std::string Text;
    };
    const Case cases[] = {
        {K::Texture2D, false, "uniform sampler2D _ShadowMapTexture0;\r\n"},
        {K::Texture2D, true, "uniform sampler2D _ShadowMapTexture0;\r\n"},
        {K::Texture3D, false, "uniform sampler3D _ShadowMapTexture0;\r\n"},
        {K::Texture3D, true, "uniform usampler3D _ShadowMapTexture0;\r\n"},
        {K::CubeMap, false, "uniform samplerCube _ShadowMapTexture0;\r\n"},
        {K::ImageTexture3D, false, "layout(rgba8) uniform image3D _ShadowMapTexture0;"},
        {K::ImageTexture3D, true, "layout(rgba8) uniform uimage3D _ShadowMapTexture0;"},
        {K::Array2D, false, "uniform sampler2DArray _ShadowMapTexture0;\r\n"},
    };
    for (const auto& c : cases) {
        TKorvaneGLSLTextureUniformNode node(pair.FS.get());
        EXPECT_EQ(node.Id(), "Texture0");
        node.SetId("ShadowMapTexture0");
        node.SetTextureKind(c.Kind);
        node.SetIsUnsigned(c.Unsigned);
        EXPECT_EQ(node.ToString(), c.Text);
    }
}

TEST(GLSLDeclarations, FragmentLocalsFollowTheDefines)
{
    TShaderPair pair;
    TKorvaneGLSLFragmentShaderLocalsStructNode locals(pair.FS.get());
    EXPECT_EQ(locals.ToString(),
              "struct TLocals{\r\n  vec3 Emissive;\r\n  vec3 TransfVertPos;\r\n  float FragDepth;\r\n  vec3 Normal;\r\n"
              "  vec3 FragViewDir;\r\n  vec4 BaseColor;\r\n  vec3 SumColor;\r\n  float Alpha;\r\n  vec2 BumpSum;\r\n"
              "};\r\n\r\n");
    pair.Fragment({"USE_TEXTURE", "USE_TEXCOORD1"});
    EXPECT_NE(locals.ToString().find("  vec2 TexCoord0;\r\n  vec2 TexCoord1;\r\n  vec3 TransfVertPos;"),
              std::string::npos);

    // The initialisation of LOCALS in main.
    TShaderPair lit;
    lit.Fragment({"LIGHTING"});
    TKorvaneGLSLFragmentShaderLocalsStructNode litLocals(lit.FS.get());
    TKorvaneGLSLLightingLocalsNode init(lit.FS.get(), &litLocals);
    const std::string tail = "  LOCALS.Emissive = vec3(0.00, 0.00, 0.00);\r\n"
                             "  LOCALS.SpecularColor = vec3(0.00, 0.00, 0.00);\r\n"
                             "  LOCALS.BaseColor = vec4(1.00, 1.00, 1.00, 1.00);\r\n"
                             "  LOCALS.SumColor = vec3(1.00, 1.00, 1.00);\r\n"
                             "  LOCALS.Alpha = 1.0;\r\n";
    auto expected = [&](const char* AValue, const char* AShadow) {
        return std::string("  LOCALS.Attenuation = 1.0;\r\n  LOCALS.SceneAttenuation = 0.0;\r\n") +
               "  LOCALS.Ambient = " + AValue + ";\r\n  LOCALS.Diffuse = " + AValue + ";\r\n  LOCALS.Specular = " +
               AValue + ";\r\n" + tail + AShadow + "  LOCALS.BumpSum = vec2(1.00, 1.00);\r\n";
    };
    EXPECT_EQ(init.ToString(), expected("vec3(0.00, 0.00, 0.00)", ""));
    lit.Fragment({"SHADOW"});
    EXPECT_EQ(init.ToString(), expected("vec3(0.00, 0.00, 0.00)", "  LOCALS.ShadowSum = 0.0;\r\n"));
    lit.Fragment({"DEFERRED"});
    EXPECT_EQ(init.ToString(), expected("vec3(1.00, 1.00, 1.00)", "  LOCALS.ShadowSum = 0.0;\r\n"));

    // The vertex struct has no values; a locals node without a struct declares its own members.
    TKorvaneGLSLVertexShaderLocalsStructNode vertexLocals(pair.VS.get());
    EXPECT_EQ(TKorvaneGLSLVertexShaderLocalsNode(pair.VS.get(), &vertexLocals).ToString(), "");
    TKorvaneGLSLLocalsNode own(pair.VS.get());
    own.AddDeclaration("l_Count", stInt, "", false, 0, TValue::From<int32_t>(2));
    EXPECT_EQ(own.ToString(), "  int l_Count = 2;\r\n");
}

TEST(GLSLDeclarations, FragmentOutputsFollowDeferred)
{
    TShaderPair pair;
    const std::string forward = pair.FS->ToString();
    EXPECT_EQ(CountOf(forward, ") out "), 5);
    EXPECT_NE(forward.find("layout (location = 0) out vec4 o_Albedo;"), std::string::npos);
    EXPECT_NE(forward.find("layout (location = 4) out vec3 o_Emissive;"), std::string::npos);
    EXPECT_EQ(forward.find("o_Components;"), std::string::npos);
    // The outputs come after the functions and before main.
    EXPECT_LT(forward.find("void SurfaceShader("), forward.find("out vec4 o_Albedo;"));
    EXPECT_LT(forward.find("out vec3 o_Emissive;"), forward.find("void main(){"));

    pair.Fragment({"DEFERRED"});
    const std::string deferred = pair.FS->ToString();
    EXPECT_EQ(CountOf(deferred, ") out "), 8);
    for (const char* line : {"layout (location = 5) out vec4 o_Components;", "layout (location = 6) out vec3 o_Ambient;",
                             "layout (location = 7) out vec3 o_Specular;"})
        EXPECT_NE(deferred.find(line), std::string::npos) << line;
}

TEST(GLSLDeclarations, MainFrame)
{
    TShaderPair pair;
    const std::string fs = pair.FS->ToString();
    const size_t main = fs.find("void main(){\r\n  TLocals LOCALS;\r\n");
    ASSERT_NE(main, std::string::npos);
    EXPECT_EQ(fs.substr(fs.size() - 3), "}\r\n");
}
