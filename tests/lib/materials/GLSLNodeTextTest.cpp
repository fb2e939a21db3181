#include <gtest/gtest.h>

#include "ShaderTestSupport.h"

using namespace korvane;
using namespace korvane::test;

namespace {

std::string MainOf(const std::string& AText)
{
    const size_t at = AText.find("void main(){");
    return at == std::string::npos ? std::string() : AText.substr(at);
}

bool Has(const std::string& AText, const std::string& APart)
{
    return AText.find(APart) != std::string::npos;
}

} // namespace

TEST(GLSLVertexNodes, MainOrderWithoutFeatures)
{
    TShaderPair pair;
    EXPECT_EQ(MainOf(pair.VS->ToString()),
              "void main(){\r\n"
              "  TLocals LOCALS;\r\n"
              "\r\n"
              "  LOCALS.Position = vec4(a_Position, 1.0);\r\n"
              "  LOCALS.TransfVertexPos = a_ModelMatrix * LOCALS.Position;\r\n"
              "  LOCALS.TransfVertexPos.xyz = LOCALS.TransfVertexPos.xyz / LOCALS.TransfVertexPos.w;\r\n"
              "  LOCALS.WorldViewProjVertPos = _ProjectionMatrix * _ViewMatrix * a_ModelMatrix * LOCALS.Position;\r\n"
              "  LOCALS.TexCoord0 = a_TexCoord0;\r\n"
              "  LOCALS.Color0 = a_Color;\r\n"
              "  mat4 l_TIMMat = transpose(inverse(a_ModelMatrix));\r\n"
              "  mat3 l_NormalMatrix = mat3(l_TIMMat);\r\n"
              "  LOCALS.Normal = normalize(l_NormalMatrix * a_Normal);\r\n"
              "  LOCALS.Tangent = normalize(l_NormalMatrix * a_Tangent);\r\n"
              "  LOCALS.Binormal = cross(a_Normal, a_Tangent);\r\n"
              "  LOCALS.Binormal = normalize(a_ModelMatrix * vec4(LOCALS.Binormal, 0.0)).xyz;\r\n"
              "\r\n"
              "  VertexShader(LOCALS);\r\n"
              "  vars.v_TBN = mat3(LOCALS.Tangent, LOCALS.Binormal, LOCALS.Normal);\r\n"
              "  vars.v_TBN_UT = mat3(a_Tangent, cross(a_Normal, a_Tangent), a_Normal);\r\n"
              "\r\n"
              "  vars.v_TexCoord0 = LOCALS.TexCoord0;\r\n"
              "  vars.v_Color0 = LOCALS.Color0;\r\n"
              "  vars.v_VertPos = LOCALS.Position;\r\n"
              "  vars.v_TransfVertPos = LOCALS.TransfVertexPos.xyz;\r\n"
              "  vars.v_WorldViewProjVertPos = LOCALS.WorldViewProjVertPos;\r\n"
              "  gl_Position = LOCALS.WorldViewProjVertPos;\r\n"
              "  vars.v_ModelMatrix = a_ModelMatrix;\r\n"
              "}\r\n");
}

TEST(GLSLVertexNodes, FeatureStatements)
{
    TShaderPair pair;
    pair.Both({"DISPLACEMENT", "CLIPPINGPLANE", "NORMALMAP", "REFLECTION", "SHADOW"});
    std::string vs = MainOf(pair.VS->ToString());
    EXPECT_TRUE(Has(vs, "  TLocals LOCALS;\r\n\r\n\r\n  LOCALS.Position")) << "a second empty line with shadows";
    EXPECT_TRUE(Has(vs, "  LOCALS.Position += LOCALS.Displace;\r\n\r\n"));
    EXPECT_TRUE(Has(vs, "  LOCALS.ClippingPlane = _ClippingPlane;\r\n"));
    EXPECT_TRUE(Has(vs, "  vars.v_ClipDistance = dot(vec4(LOCALS.TransfVertexPos.xyz, 1.0), LOCALS.ClippingPlane);\r\n"));
    EXPECT_TRUE(Has(vs, "  LOCALS.Normal = normalize(a_ModelMatrix * vec4(a_Normal, 0.0)).xyz;\r\n"));
    EXPECT_FALSE(Has(vs, "l_TIMMat"));
    EXPECT_TRUE(Has(vs, "  vars.v_ReflProjTextureCoords = (_PassData[0]._ReflectTextureMatrix * a_ModelMatrix) * "
                        "LOCALS.Position;\r\n"));
    // Displacement without DISPLACE_VAR moves the vertex but passes no varying.
    EXPECT_FALSE(Has(vs, "vars.v_Displace"));
    pair.Both({"DISPLACE_VAR"});
    EXPECT_TRUE(Has(pair.VS->ToString(), "  vars.v_Displace = LOCALS.Displace;\r\n"));

    // The order inside main: displacement before the clip plane, the user call before the outputs.
    vs = MainOf(pair.VS->ToString());
    EXPECT_LT(vs.find("LOCALS.Displace ="), vs.find("LOCALS.ClippingPlane ="));
    EXPECT_LT(vs.find("VertexShader(LOCALS);"), vs.find("vars.v_TBN ="));
}

TEST(GLSLFragmentNodes, ClipPlaneLine)
{
    TShaderPair pair;
    EXPECT_FALSE(Has(pair.FS->ToString(), "c_ClipPlaneFlag"));
    pair.Both({"CLIPPINGPLANE"});
    const std::string fs = MainOf(pair.FS->ToString());
    const std::string head = "void main(){\r\n  TLocals LOCALS;\r\n";
    EXPECT_EQ(fs.substr(0, head.size()), head);
    EXPECT_EQ(fs.find("  const int c_ClipPlaneFlag = 0x01;\r\n"
                      "  if(((_Options & c_ClipPlaneFlag) == c_ClipPlaneFlag) && (vars.v_ClipDistance < 0.0)){ discard; "
                      "}\r\n"),
              head.size())
        << "the first statement of main";
    EXPECT_FALSE(Has(MainOf(pair.VS->ToString()), "discard")) << "only the fragment stage discards";
}

TEST(GLSLFragmentNodes, LightsLoopOnlyForForwardLighting)
{
    TShaderPair pair;
    pair.Both({"LIGHTING", "SHADOW", "SHADOWMAPPING"});
    std::string fs = MainOf(pair.FS->ToString());
    const size_t loop = fs.find("  for(int i = 0; i < _LightsCount; i++){\r\n");
    ASSERT_NE(loop, std::string::npos);
    EXPECT_LT(loop, fs.find("    LOCALS.LightDist = GetLightDir(_Lights[i], vars.v_TransfVertPos"));
    EXPECT_LT(fs.find("    LOCALS.Diffuse += _Lights[i]._Diffuse.rgb"), fs.find("    LOCALS.ShadowSum += "));
    EXPECT_TRUE(Has(fs, "    LOCALS.ShadowSum += ShadowCalculation(_ShadowMapTexture0, _PassData[0]._ShadowMapMatrix[0], "
                        "vars.v_ModelMatrix, LOCALS.LightDir);\r\n  }\r\n"));

    pair.Both({"DEFERRED"});
    fs = MainOf(pair.FS->ToString());
    EXPECT_FALSE(Has(fs, "for("));
    EXPECT_FALSE(Has(fs, "GetLightDir("));
    EXPECT_FALSE(Has(fs, "ShadowCalculation("));
    EXPECT_TRUE(Has(fs, "  LOCALS.Ambient = vec3(1.00, 1.00, 1.00);\r\n"));
}

TEST(GLSLFragmentNodes, ShadingModels)
{
    struct Case {
        std::vector<const char*> Defines;
        const char* Function; // the specular function written, or null
    };
    const Case cases[] = {
        {{"LIGHTING"}, nullptr},
        {{"LIGHTING", "PHONG"}, "float lightComputeSpecularPhong("},
        {{"LIGHTING", "BLINNPHONG"}, "float lightComputeSpecular("},
        {{"LIGHTING", "PHONG", "BLINNPHONG"}, "float lightComputeSpecularPhong("},
        {{"LIGHTING", "PBR"}, nullptr},
    };
    for (const auto& c : cases) {
        TShaderPair pair;
        for (const char* d : c.Defines) pair.Fragment({d});
        const std::string fs = pair.FS->ToString();
        EXPECT_TRUE(Has(fs, "float lightComputeDiffuse(in vec3 p_Normal, in vec3 p_LightDir){"));
        if (c.Function) {
            EXPECT_TRUE(Has(fs, c.Function)) << c.Function;
            EXPECT_TRUE(Has(fs, "    if(_Material[0]._Shininess <= 0.001){\r\n      LOCALS.Shading.y = 0.0;\r\n"));
        } else {
            EXPECT_FALSE(Has(fs, "lightComputeSpecular")) << c.Defines.size();
        }
    }
    TShaderPair lambert;
    lambert.Fragment({"LIGHTING"});
    const std::string fs = MainOf(lambert.FS->ToString());
    EXPECT_TRUE(Has(fs, "    LOCALS.Shading.x = lightComputeDiffuse(LOCALS.Normal, LOCALS.LightDir.xyz);\r\n"
                        "    LOCALS.Shading.y = 0.0;\r\n"
                        "    LOCALS.Shading = LOCALS.Shading * LOCALS.Attenuation * l_Falloff;\r\n"));
    EXPECT_FALSE(Has(fs, "_Lights[i]._Specular")) << "specular sum only with USE_SPECULAR";
}

TEST(GLSLFragmentNodes, FirstToneMapDefineWins)
{
    TShaderPair pair;
    pair.Fragment({"LIGHTING", "TONEMAP_FILMIC", "TONEMAP_EXPOSURE"});
    std::string fs = pair.FS->ToString();
    EXPECT_TRUE(Has(fs, "vec3 toneMap(vec3 color, in float exposure){\r\n  color *= exposure;\r\n  return color;\r\n}"));
    EXPECT_FALSE(Has(fs, "6.2")) << "the filmic curve is not written";
    EXPECT_EQ(fs.find("vec3 toneMap("), fs.rfind("vec3 toneMap(")) << "one toneMap function";
    EXPECT_TRUE(Has(MainOf(fs), "  LOCALS.SumColor = toneMap(LOCALS.SumColor, _Material[0]._ToneMapExp);\r\n"));

    pair.FS->RemoveDefine("TONEMAP_EXPOSURE");
    pair.Fragment({"TONEMAP_UNCHARTED2"});
    fs = pair.FS->ToString();
    EXPECT_TRUE(Has(fs, "(6.2 * l_X + 0.5)")) << "filmic precedes Uncharted 2";
    EXPECT_FALSE(Has(fs, "Uncharted2ToneMapCurve"));

    // PBR calls the function from the merged colour and converts to sRGB inside it.
    pair.Fragment({"PBR"});
    fs = pair.FS->ToString();
    const std::string main = MainOf(fs);
    EXPECT_EQ(main.find("toneMap("), main.rfind("toneMap(")) << "called once";
    TShaderPair exposure;
    exposure.Fragment({"LIGHTING", "PBR", "TONEMAP_EXPOSURE"});
    EXPECT_TRUE(Has(exposure.FS->ToString(), "  color *= exposure;\r\n  color = linearTosRGB(color);\r\n"));
    TShaderPair plain;
    plain.Fragment({"LIGHTING", "PBR"});
    EXPECT_TRUE(Has(plain.FS->ToString(), "  LOCALS.SumColor = linearTosRGB(LOCALS.SumColor);\r\n"));
}

TEST(GLSLFragmentNodes, BaseColorChoices)
{
    struct Case {
        std::vector<const char*> Defines;
        std::string Text;
    };
    const Case cases[] = {
        {{"USE_TEXTURE", "USE_TEXTURE0", "USE_VERTEXCOLOR"},
         "  LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0) * vars.v_Color0;\r\n"
         "  LOCALS.Alpha = LOCALS.BaseColor.a;\r\n"},
        {{"LIGHTING", "USE_TEXTURE", "USE_TEXTURE0", "USE_VERTEXCOLOR"},
         "  LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0) * vars.v_Color0;\r\n"
         "  LOCALS.Alpha = LOCALS.BaseColor.a * vars.v_Color0.a;\r\n"},
        {{"USE_VERTEXCOLOR"}, "  LOCALS.BaseColor = vars.v_Color0;\r\n  LOCALS.Alpha = LOCALS.BaseColor.a;\r\n"},
        {{"LIGHTING", "USE_VERTEXCOLOR"}, "  LOCALS.BaseColor = vars.v_Color0;\r\n  LOCALS.Alpha = vars.v_Color0.a;\r\n"},
        {{"USE_TEXTURE0"}, "  LOCALS.BaseColor = _Material[0]._Diffuse;\r\n  LOCALS.Alpha = LOCALS.BaseColor.a;\r\n"},
        {{"BUMP", "USE_TEXTURE", "USE_TEXTURE0"},
         "  LOCALS.BaseColor = BumpSum(_Texture0, LOCALS.TexCoord0, LOCALS.Normal);\r\n"
         "  LOCALS.Alpha = LOCALS.BaseColor.a;\r\n"},
        {{"BUMP", "PBR", "LIGHTING"}, ""},
    };
    for (const auto& c : cases) {
        TShaderPair pair;
        for (const char* d : c.Defines) pair.Fragment({d});
        TKorvaneGLSLGetBaseColorNode node(pair.FS.get());
        EXPECT_EQ(node.ToString(), c.Text) << c.Defines.size() << " defines, first " << c.Defines[0];
    }
}

TEST(GLSLFragmentNodes, TilingReadsTextureZeroForEverySet)
{
    TShaderPair pair;
    pair.Both({"USE_TEXTURE", "USE_TEXCOORD2"});
    const std::string fs = MainOf(pair.FS->ToString());
    EXPECT_TRUE(Has(fs, "  vec2 l_Tiling0 = _Material[0]._Texture[0]._Tiling;\r\n"
                        "  LOCALS.TexCoord0 = vec2(mod(LOCALS.TexCoord0.x * l_Tiling0.x, 1.0), mod(LOCALS.TexCoord0.y "
                        "* l_Tiling0.y, 1.0));\r\n"));
    EXPECT_TRUE(Has(fs, "  vec2 l_Tiling2 = _Material[0]._Texture[0]._Tiling;\r\n"));
    EXPECT_FALSE(Has(fs, "l_Tiling1"));
}

TEST(GLSLFragmentNodes, EffectsThatWriteNothing)
{
    // Environment with PBR needs the PBR preparation, which needs lighting.
    TShaderPair env;
    env.Both({"ENVIRONMENT", "PBR"});
    EXPECT_FALSE(Has(env.FS->ToString(), "l_EnvTex"));
    env.Both({"LIGHTING"});
    const std::string lit = MainOf(env.FS->ToString());
    EXPECT_TRUE(Has(lit, "    LOCALS.Diffuse += (l_EnvTex.rgb * _PassData[0]._RefractionPower) * l_AO;\r\n"));
    EXPECT_TRUE(Has(lit, "    LOCALS.Specular += l_Radiance;\r\n"));
    EXPECT_FALSE(Has(lit, "LOCALS.BaseColor = mix(LOCALS.BaseColor, l_EnvTex"));
    EXPECT_FALSE(Has(lit, "  vec3 l_Radiance = getIBLRadianceGGX(F0")) << "the merged colour leaves it to the environment";

    // Shadows without a method add no term.
    TShaderPair shadow;
    shadow.Both({"LIGHTING", "SHADOW"});
    const std::string fs = shadow.FS->ToString();
    EXPECT_FALSE(Has(fs, "ShadowCalculation"));
    EXPECT_TRUE(Has(MainOf(fs), "  LOCALS.SumColor *= LOCALS.ShadowSum;\r\n"));

    // Without texturing parallax occlusion writes only the tangent-space view direction and the normal.
    TShaderPair pom;
    pom.Both({"POM"});
    const std::string pomMain = MainOf(pom.FS->ToString());
    EXPECT_TRUE(Has(pomMain, "  LOCALS.Normal = vars.v_TBN[2];\r\n  mat3 l_TBN2 = vars.v_TBN;\r\n"));
    EXPECT_TRUE(Has(pomMain, "  vec3 l_POMViewDir = normalize(l_TanViewPos - l_TanFragPos);\r\n"));
    EXPECT_FALSE(Has(pom.FS->ToString(), "ParallaxOcclusionMapping("));
    pom.Both({"USE_TEXTURE", "POM_DISCARD"});
    EXPECT_TRUE(Has(MainOf(pom.FS->ToString()), "ParallaxOcclusionMapping(_PassData[0]._NormalIntensity"));
    EXPECT_TRUE(Has(MainOf(pom.FS->ToString()), "(LOCALS.TexCoord0.y < 0.0)){ discard; }"));
}
