// Lighting in the GLSL node library: the light direction, fall-off,
// attenuation and shading functions, shadows, the PBR library, tone mapping,
// the lights loop with its per-light statements and the merged colour.

#include "Korvane.Material.Default.GLSL.Text.h"
#include "Korvane.Material.Default.GLSL.h"

namespace korvane {

using glsl::FirstToneMap;
using glsl::TGLSLText;
using glsl::VaryPrefix;

// ---------------------------------------------------------------------------
// Light directions, fall-off, attenuation and shading

namespace {

// The light parameter and its member access in the struct form (a Light) or
// the index form (an index into _Lights).
struct TLightParam {
    std::string Decl;   // "in Light p_Light" or "in int i"
    std::string Member; // "p_Light." or "_Lights[i]."
    std::string Arg;    // "p_Light" or "i"
};

TLightParam LightParam(const TKorvaneNodeBuilder* ABuilder, const char* AIndexName = "i")
{
    if (ABuilder && ABuilder->Defined("VARYING_STRUCTS")) return {"in Light p_Light", "p_Light.", "p_Light"};
    return {std::string("in int ") + AIndexName, std::string("_Lights[") + AIndexName + "].", AIndexName};
}

// One light function: "${Decl}" is the light parameter, "${M}" the member
// access and "${Arg}" the argument passed on.
std::string LightFunction(const TKorvaneNodeBuilder* ABuilder, std::string_view AText, const char* AIndexName = "i")
{
    const TLightParam l = LightParam(ABuilder, AIndexName);
    return TGLSLText().Block(AText, {{"Decl", l.Decl}, {"M", l.Member}, {"Arg", l.Arg}}).Take();
}

} // namespace

std::string TKorvaneGLSLGetDirLightDirectionFuncNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    return LightFunction(FBuilder, R"(
float GetDirLightDir(${Decl}, in vec3 p_TransVertPos, inout vec4 p_LightDir){
  vec3 l_VP = ${M}_Position.xyz - p_TransVertPos;
  float l_Dist = length(l_VP);
  p_LightDir = -${M}_Direction;
  return l_Dist;
}

)");
}

std::string TKorvaneGLSLGetPointLightDirectionFuncNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    return LightFunction(FBuilder, R"(
float GetPointLightDir(${Decl}, in vec3 p_TransVertPos, inout vec4 p_LightDir, inout vec3 p_HalfVector){
  vec3 l_VP = ${M}_Position.xyz - p_TransVertPos;
  float l_Dist = length(l_VP);
  p_LightDir = vec4(normalize(l_VP), 0.0);
  p_HalfVector = normalize(l_VP - p_TransVertPos);
  return l_Dist;
}

)");
}

std::string TKorvaneGLSLGetSpotLightDirectionFuncNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    return LightFunction(FBuilder, R"(
float GetSpotLightDir(${Decl}, in vec3 p_TransVertPos, inout vec4 p_LightDir, inout vec3 p_HalfVector){
  vec3 l_VP = ${M}_Position.xyz - p_TransVertPos;
  float l_Dist = length(l_VP);
  p_LightDir = -${M}_Direction;
  p_HalfVector = normalize(l_VP);
  return l_Dist;
}

)");
}

std::string TKorvaneGLSLGetLightDirectionFuncNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    return LightFunction(FBuilder, R"(
float GetLightDir(${Decl}, in vec3 p_TransVertPos, out vec4 p_LightDir, out vec3 p_HalfVector){
  if(${M}_LightType == 0){
    p_HalfVector = vec3(0.0);
    return GetDirLightDir(${Arg}, p_TransVertPos, p_LightDir);
  }
  if(${M}_LightType == 1){
    return GetPointLightDir(${Arg}, p_TransVertPos, p_LightDir, p_HalfVector);
  }
  return GetSpotLightDir(${Arg}, p_TransVertPos, p_LightDir, p_HalfVector);
}

)",
                         "p_Index");
}

std::string TKorvaneGLSLGetSpotFalloffFuncNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    // w packs both cone angles: the inner cosine in thousandths above the point, the outer below it.
    return TGLSLText()
        .Block(R"(
float computeSpotFalloff(in vec4 p_LightDirection, in vec3 p_HalfVector){
  float l_InnerCos = floor(p_LightDirection.w) * 0.001;
  float l_OuterCos = fract(p_LightDirection.w);
  vec3 l_L = normalize(p_HalfVector);
  vec3 l_S = normalize(p_LightDirection.xyz);
  float l_C = dot(-l_L, l_S);
  return clamp((l_C - l_OuterCos) / (l_InnerCos - l_OuterCos), step(p_LightDirection.w, 0.001), 1.0);
}

)")
        .Take();
}

std::string TKorvaneGLSLGetLightAttenuationFuncNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    return LightFunction(FBuilder, R"(
float getAttenuation(${Decl}, in float p_Distance, in vec3 p_HalfVector){
  float l_Attenuation = 1.0 / (${M}_ConstantAttenuation + ${M}_LinearAttenuation * p_Distance + ${M}_QuadraticAttenuation * p_Distance * p_Distance);
  if(${M}_LightType == 2){
    float l_SpotDot = dot(-p_HalfVector, normalize(${M}_Direction.xyz));
    if(l_SpotDot < ${M}_SpotCosCutoff){
      l_Attenuation *= 0.0;
    } else {
      l_Attenuation *= pow(l_SpotDot, ${M}_SpotExponent);
    }
  }
  return l_Attenuation;
}

)");
}

std::string TKorvaneGLSLGetShadingFuncsNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    TGLSLText t;
    t.Block(R"(
float lightComputeDiffuse(in vec3 p_Normal, in vec3 p_LightDir){
  return max(0.0, dot(p_Normal, p_LightDir));
}

)");
    if (Def("PHONG"))
        t.Block(R"(
float lightComputeSpecularPhong(in vec3 p_Normal, in vec3 p_ViewDir, in vec3 p_LightDir, in float p_Shiny){
  vec3 l_R = -reflect(p_LightDir, p_Normal);
  return pow(max(dot(l_R, p_ViewDir), 0.0), p_Shiny);
}

)");
    else if (Def("BLINNPHONG"))
        t.Block(R"(
float lightComputeSpecular(in vec3 p_Normal, in vec3 p_ViewDir, in vec3 p_LightDir, in float p_Shiny){
  vec3 l_H = normalize(p_ViewDir + p_LightDir);
  return pow(max(0.0, dot(l_H, p_Normal)), p_Shiny);
}

)");
    return t.Take();
}

// ---------------------------------------------------------------------------
// Shadow functions

std::string TKorvaneGLSLBasicShadowFuncsNode::ToString()
{
    if (!Def("SHADOW")) return {};
    const bool structs = Def("VARYING_STRUCTS");
    const std::string_view v = VaryPrefix(FBuilder);
    if (Def("SHADOWMAPPING"))
        return TGLSLText()
            .Block(R"(
float ShadowCalculation(sampler2D p_ShadowMapTexture, mat4 p_ShadowMapMatrix, mat4 p_ModelMatrix, vec4 p_LightDir){
  const float c_MinVal = 0.5;
  vec4 l_LightSpacePos = p_ShadowMapMatrix * (p_ModelMatrix * ${V}v_VertPos);
  vec3 l_ProjCoords = l_LightSpacePos.xyz / l_LightSpacePos.w;
  if(l_ProjCoords.z > 1.0){
    return c_MinVal;
  }
  float l_ClosestDepth = tex2D(p_ShadowMapTexture, l_ProjCoords.xy).r;
  float l_Bias = max(0.05 * (1.0 - dot(${V}v_TBN[2], p_LightDir.xyz)), 0.005);
  float l_Shadow = (l_ProjCoords.z - l_Bias > l_ClosestDepth) ? 1.0 : 0.0;
  return max(1.0 - l_Shadow, c_MinVal);
}

)",
                   {{"V", v}})
            .Take();
    if (Def("VARIANCESHADOWMAPPING")) {
        const std::string_view position = structs ? "p_ShadowMapMatrix * vec4(vars.v_TransfVertPos, 1.0)"
                                                  : "p_ShadowMapMatrix * (p_ModelMatrix * v_VertPos)";
        const std::string_view minimum = structs ? "0.00002" : "0.0008";
        return TGLSLText()
            .Block(R"(
float ShadowCalculation(sampler2D p_ShadowMapTexture, mat4 p_ShadowMapMatrix, mat4 p_ModelMatrix){
  vec4 l_LightSpacePos = ${Position};
  vec3 l_ProjCoords = l_LightSpacePos.xyz / l_LightSpacePos.w;
  vec2 l_Moments = tex2D(p_ShadowMapTexture, l_ProjCoords.xy).rg;
  if(l_ProjCoords.z <= l_Moments.x){
    return 1.0;
  }
  float l_Variance = max(l_Moments.y - (l_Moments.x * l_Moments.x), ${Minimum});
  float l_D = l_ProjCoords.z - l_Moments.x;
  return l_Variance / (l_Variance + (l_D * l_D));
}

)",
                   {{"Position", position}, {"Minimum", minimum}})
            .Take();
    }
    return {};
}

// ---------------------------------------------------------------------------
// PBR library

std::string TKorvaneGLSLPBRFuncsNode::ToString()
{
    if (!Def("PBR")) return {};
    static const std::string text = TGLSLText()
        .Block(R"(
const float PBR_PI = 3.141592653589793;
const float PBR_Epsilon = 0.002;
const float PBR_EmissiveFac = 0.3;
const vec3 Fdielectric = vec3(0.04);

vec2 getIBLSamplePointGGXLUT(float NdotV, float roughness){
  return clamp(vec2(NdotV, roughness), vec2(0.0, 0.0), vec2(1.0, 1.0));
}

vec3 getIBLRadianceLambertian(vec3 irradiance, float NdotV, float roughness, vec3 diffuseColor, vec3 F0, float specularWeight){
  vec3 Fr = max(vec3(1.0 - roughness), F0) - F0;
  vec3 k_S = F0 + Fr * pow(clamp(1.0 - NdotV, 0.0, 1.0), 5.0);
  vec3 FssEss = specularWeight * k_S;
  float Ems = 1.0;
  vec3 F_avg = specularWeight * (F0 + (1.0 - F0) / 21.0);
  vec3 FmsEms = Ems * FssEss * F_avg / (1.0 - F_avg * Ems);
  vec3 k_D = diffuseColor * (1.0 - FssEss + FmsEms);
  return (FmsEms + k_D) * irradiance;
}

vec3 getIBLRadianceGGX(vec3 specularLight, float NdotV, float roughness, vec3 F0, float specularWeight){
  vec3 Fr = max(vec3(1.0 - roughness), F0) - F0;
  vec3 k_S = F0 + Fr * pow(clamp(1.0 - NdotV, 0.0, 1.0), 5.0);
  return specularWeight * specularLight * k_S;
}

float applyIorToRoughness(float roughness, float ior){
  return roughness * clamp(ior * 2.0 - 2.0, 0.0, 1.0);
}

vec3 F_Schlick(vec3 f0, vec3 f90, float VdotH){
  return f0 + (f90 - f0) * pow(clamp(1.0 - VdotH, 0.0, 1.0), 5.0);
}

float F_Schlick(float f0, float f90, float VdotH){
  float x = clamp(1.0 - VdotH, 0.0, 1.0);
  float x2 = x * x;
  float x5 = x * x2 * x2;
  return f0 + (f90 - f0) * x5;
}

float F_Schlick(float f0, float VdotH){
  return F_Schlick(f0, 1.0, VdotH);
}

vec3 F_Schlick(vec3 f0, float VdotH){
  return F_Schlick(f0, vec3(1.0), VdotH);
}

vec3 Schlick_to_F0(vec3 f, vec3 f90, float VdotH){
  float x = clamp(1.0 - VdotH, 0.0, 1.0);
  float x2 = x * x;
  float x5 = clamp(x * x2 * x2, 0.0, 0.9999);
  return (f - f90 * x5) / (1.0 - x5);
}

float Schlick_to_F0(float f, float f90, float VdotH){
  float x = clamp(1.0 - VdotH, 0.0, 1.0);
  float x2 = x * x;
  float x5 = clamp(x * x2 * x2, 0.0, 0.9999);
  return (f - f90 * x5) / (1.0 - x5);
}

vec3 Schlick_to_F0(vec3 f, float VdotH){
  return Schlick_to_F0(f, vec3(1.0), VdotH);
}

float Schlick_to_F0(float f, float VdotH){
  return Schlick_to_F0(f, 1.0, VdotH);
}

float V_GGX(float NdotL, float NdotV, float alphaRoughness){
  float alphaRoughnessSq = alphaRoughness * alphaRoughness;
  float GGXV = NdotL * sqrt(NdotV * NdotV * (1.0 - alphaRoughnessSq) + alphaRoughnessSq);
  float GGXL = NdotV * sqrt(NdotL * NdotL * (1.0 - alphaRoughnessSq) + alphaRoughnessSq);
  float GGX = GGXV + GGXL;
  if(GGX > 0.0){
    return 0.5 / GGX;
  }
  return 0.0;
}

float D_GGX(float NdotH, float alphaRoughness){
  float alphaRoughnessSq = alphaRoughness * alphaRoughness;
  float f = (NdotH * NdotH) * (alphaRoughnessSq - 1.0) + 1.0;
  return alphaRoughnessSq / (PBR_PI * f * f);
}

float lambdaSheenNumericHelper(float x, float alphaG){
  float oneMinusAlphaSq = (1.0 - alphaG) * (1.0 - alphaG);
  float a = mix(21.5473, 25.3245, oneMinusAlphaSq);
  float b = mix(3.82987, 3.32435, oneMinusAlphaSq);
  float c = mix(0.19823, 0.16801, oneMinusAlphaSq);
  float d = mix(-1.97760, -1.27393, oneMinusAlphaSq);
  float e = mix(-4.32054, -4.85967, oneMinusAlphaSq);
  return a / (1.0 + b * pow(x, c)) + d * x + e;
}

float lambdaSheen(float cosTheta, float alphaG){
  if(abs(cosTheta) < 0.5){
    return exp(lambdaSheenNumericHelper(cosTheta, alphaG));
  }
  return exp(2.0 * lambdaSheenNumericHelper(0.5, alphaG) - lambdaSheenNumericHelper(1.0 - cosTheta, alphaG));
}

float V_Sheen(float NdotL, float NdotV, float sheenRoughness){
  float l_Roughness = max(sheenRoughness, 0.000001);
  float alphaG = l_Roughness * l_Roughness;
  return clamp(1.0 / ((1.0 + lambdaSheen(NdotV, alphaG) + lambdaSheen(NdotL, alphaG)) * (4.0 * NdotV * NdotL)), 0.0, 1.0);
}

float D_Charlie(float sheenRoughness, float NdotH){
  float l_Roughness = max(sheenRoughness, 0.000001);
  float alphaG = l_Roughness * l_Roughness;
  float invR = 1.0 / alphaG;
  float cos2h = NdotH * NdotH;
  float sin2h = 1.0 - cos2h;
  return (2.0 + invR) * pow(sin2h, invR * 0.5) / (2.0 * PBR_PI);
}

vec3 BRDF_lambertian(vec3 f0, vec3 f90, vec3 diffuseColor, float specularWeight, float VdotH){
  return (1.0 - specularWeight * F_Schlick(f0, f90, VdotH)) * (diffuseColor / PBR_PI);
}

vec3 BRDF_specularGGX(vec3 f0, vec3 f90, float alphaRoughness, float specularWeight, float VdotH, float NdotL, float NdotV, float NdotH){
  vec3 F = F_Schlick(f0, f90, VdotH);
  float Vis = V_GGX(NdotL, NdotV, alphaRoughness);
  float D = D_GGX(NdotH, alphaRoughness);
  return specularWeight * F * Vis * D;
}

vec3 BRDF_specularSheen(vec3 sheenColor, float sheenRoughness, float NdotL, float NdotV, float NdotH){
  float sheenDistribution = D_Charlie(sheenRoughness, NdotH);
  float sheenVisibility = V_Sheen(NdotL, NdotV, sheenRoughness);
  return sheenColor * sheenDistribution * sheenVisibility;
}

)")
        .Take();
    return text;
}

// ---------------------------------------------------------------------------
// Tone mapping

namespace {

const char* const ACESHill = R"(
const mat3 ACESInputMat = mat3(0.59719, 0.07600, 0.02840, 0.35458, 0.90834, 0.13383, 0.04823, 0.01566, 0.83777);
const mat3 ACESOutputMat = mat3(1.60475, -0.10208, -0.00327, -0.53108, 1.10813, -0.07276, -0.07367, -0.00605, 1.07602);

vec3 RRTAndODTFit(vec3 color){
  vec3 a = color * (color + 0.0245786) - 0.000090537;
  vec3 b = color * (0.983729 * color + 0.4329510) + 0.238081;
  return a / b;
}

vec3 toneMapACES_Hill(vec3 color){
  color = ACESInputMat * color;
  color = RRTAndODTFit(color);
  color = ACESOutputMat * color;
  return clamp(color, 0.0, 1.0);
}

)";

// The toneMap function of the curves that leave the colour linear: its first
// statement is ABody; with PBR the result is converted to sRGB.
void ToneMapReturningColor(TGLSLText& AText, std::string_view ABody, bool AToSRGB)
{
    AText.Block(R"(
vec3 toneMap(vec3 color, in float exposure){
  ${Body}
)",
                {{"Body", ABody}});
    if (AToSRGB) AText.L("color = linearTosRGB(color);");
    AText.Block(R"(
  return color;
}

)");
}

} // namespace

std::string TKorvaneGLSLToneMappingFuncsNode::ToString()
{
    const char* first = FirstToneMap(FBuilder);
    if (!first) return {};
    const std::string_view define(first);
    const bool toSRGB = Def("PBR");
    TGLSLText t;
    if (define == "TONEMAP_EXPOSURE") {
        ToneMapReturningColor(t, "color *= exposure;", toSRGB);
    } else if (define == "TONEMAP_ACES_NARKOWICZ") {
        t.Block(R"(
vec3 toneMapACES_Narkowicz(vec3 color){
  const float A = 2.51;
  const float B = 0.03;
  const float C = 2.43;
  const float D = 0.59;
  const float E = 0.14;
  return clamp((color * (A * color + B)) / (color * (C * color + D) + E), 0.0, 1.0);
}

)");
        ToneMapReturningColor(t, "color = toneMapACES_Narkowicz(color * exposure);", toSRGB);
    } else if (define == "TONEMAP_ACES_HILL") {
        t.Block(ACESHill);
        ToneMapReturningColor(t, "color = toneMapACES_Hill(color * exposure);", toSRGB);
    } else if (define == "TONEMAP_ACES_HILL_EXPOSURE_BOOST") {
        t.Block(ACESHill);
        ToneMapReturningColor(t, "color = toneMapACES_Hill(color * exposure / 0.6);", toSRGB);
    } else if (define == "TONEMAP_REINHARD") {
        t.Block(R"(
vec3 toneMap(vec3 color, in float exposure){
  float l_X = exposure * 1.5;
  color = color * l_X / (1.0 + color / l_X);
  return pow(color, vec3(INV_GAMMA));
}

)");
    } else if (define == "TONEMAP_LUMABASED_REINHARD") {
        t.Block(R"(
vec3 toneMap(vec3 color, in float exposure){
  color *= exposure;
  float l_Luma = dot(color, vec3(0.2126, 0.7152, 0.0722));
  float l_ToneMappedLuma = l_Luma / (1.0 + l_Luma);
  color *= l_ToneMappedLuma / l_Luma;
  return pow(color, vec3(INV_GAMMA));
}

)");
    } else if (define == "TONEMAP_WP_LUMABASED_REINHARD") {
        t.Block(R"(
vec3 toneMap(vec3 color, in float exposure){
  const float c_White = 2.0;
  color *= exposure;
  float l_Luma = dot(color, vec3(0.2126, 0.7152, 0.0722));
  float l_ToneMappedLuma = l_Luma * (1.0 + l_Luma / (c_White * c_White)) / (1.0 + l_Luma);
  color *= l_ToneMappedLuma / l_Luma;
  return pow(color, vec3(INV_GAMMA));
}

)");
    } else if (define == "TONEMAP_ROMBINDAHOUSE") {
        t.Block(R"(
vec3 toneMap(vec3 color, in float exposure){
  color *= exposure;
  color = exp(-1.0 / (2.72 * color + 0.15));
  return pow(color, vec3(INV_GAMMA));
}

)");
    } else if (define == "TONEMAP_FILMIC") {
        t.Block(R"(
vec3 toneMap(vec3 color, in float exposure){
  color *= exposure;
  vec3 l_X = max(vec3(0.0), color - 0.004);
  color = (l_X * (6.2 * l_X + 0.5)) / (l_X * (6.2 * l_X + 1.7) + 0.06);
  return color;
}

)");
    } else { // TONEMAP_UNCHARTED2
        t.Block(R"(
vec3 Uncharted2ToneMapCurve(vec3 x){
  const float A = 0.15;
  const float B = 0.50;
  const float C = 0.10;
  const float D = 0.20;
  const float E = 0.02;
  const float F = 0.30;
  return ((x * (A * x + C * B) + D * E) / (x * (A * x + B) + D * F)) - E / F;
}

vec3 toneMap(vec3 color, in float exposure){
  const float W = 11.2;
  color *= 2.0 * exposure;
  vec3 l_Curr = Uncharted2ToneMapCurve(color);
  vec3 l_WhiteScale = 1.0 / Uncharted2ToneMapCurve(vec3(W));
  return pow(l_Curr * l_WhiteScale, vec3(INV_GAMMA));
}

)");
    }
    return t.Take();
}

std::string TKorvaneGLSLTonemappingNode::ToString()
{
    if (Def("PBR") || !FirstToneMap(FBuilder)) return {};
    return TGLSLText().L("LOCALS.SumColor = toneMap(LOCALS.SumColor, _Material[0]._ToneMapExp);").Take();
}

std::string TKorvaneGLSLBrightnessColorNode::ToString()
{
    return TGLSLText().L("LOCALS.SumColor *= _Brightness;").Take();
}

// ---------------------------------------------------------------------------
// Lights loop and per-light statements

std::string TKorvaneGLSLForLoopNode::ToString()
{
    std::string text = "  for(";
    if (FLoopVariable) text += FLoopVariable->ToString();
    text += "; ";
    if (FCondition) text += FCondition->ToString();
    text += "; ";
    if (FLoopOp) text += FLoopOp->ToString();
    text += std::string("){") + CRLF;
    text += TKorvaneCompositeNode::ToString();
    return text + "  }" + CRLF;
}

TKorvaneGLSLLightsLoopNode::TKorvaneGLSLLightsLoopNode(TKorvaneNodeBuilder* ABuilder) : TKorvaneGLSLForLoopNode(ABuilder)
{
    TKorvaneGlobalsNode* globals = ABuilder ? ABuilder->Globals() : nullptr;
    TKorvaneNodeEntity* lightsCount =
        globals ? globals->FindNode<TKorvaneVariableNode>("_LightsCount", true) : nullptr;

    auto variable = TKorvaneGLSLVariable::Build(ABuilder, "i", stInt);
    TKorvaneGLSLVariable* i = variable.get();
    FLoopVariable = TKorvaneOperationNode::Build(ABuilder, snopAssign, std::move(variable),
                                                 TKorvaneGLSLConstantValue::Build(ABuilder, "", TValue::From<int32_t>(0)));
    FCondition = TKorvaneOperationNode::Build(ABuilder, snopLT, TKorvaneReferenceNode::Build(ABuilder, i),
                                              TKorvaneReferenceNode::Build(ABuilder, lightsCount));
    FLoopOp = TKorvaneOperationNode::Build(ABuilder, snopPostInc, TKorvaneReferenceNode::Build(ABuilder, i), nullptr);
}

std::string TKorvaneGLSLLightsLoopNode::ToString()
{
    if (!Def("LIGHTING") || Def("DEFERRED")) return {};
    return TKorvaneGLSLForLoopNode::ToString();
}

std::string TKorvaneGLSLGetLightShadingNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    const bool structs = Def("VARYING_STRUCTS");
    TGLSLText t;
    t.Block(R"(
    LOCALS.LightType = _Lights[i]._LightType;
    LOCALS.LightDist = GetLightDir(${Light}, ${V}v_TransfVertPos, LOCALS.LightDir, LOCALS.LightVec);
    float l_Falloff = 1.0;
    if(LOCALS.LightType == 2){
      l_Falloff = computeSpotFalloff(LOCALS.LightDir, LOCALS.LightVec);
    }
    if(LOCALS.LightType == 0){
      LOCALS.Attenuation = 1.0;
    } else {
      LOCALS.Attenuation = getAttenuation(${Light}, LOCALS.LightDist, LOCALS.LightVec);
    }
    LOCALS.SceneAttenuation += LOCALS.Attenuation;
)",
            {{"Light", structs ? "_Lights[i]" : "i"}, {"V", VaryPrefix(FBuilder)}});
    if (!Def("PBR")) {
        t.Block(R"(
    LOCALS.Shading.x = lightComputeDiffuse(LOCALS.Normal, LOCALS.LightDir.xyz);
    LOCALS.Shading.y = 0.0;
)");
        const char* specular = Def("PHONG") ? "lightComputeSpecularPhong" : Def("BLINNPHONG") ? "lightComputeSpecular"
                                                                                             : nullptr;
        if (specular)
            t.Block(R"(
    if(_Material[0]._Shininess <= 0.001){
      LOCALS.Shading.y = 0.0;
    } else {
      LOCALS.Shading.y = ${Specular}(LOCALS.Normal, LOCALS.FragViewDir, LOCALS.LightDir.xyz, _Material[0]._Shininess);
    }
)",
                    {{"Specular", specular}});
        t.L("LOCALS.Shading = LOCALS.Shading * LOCALS.Attenuation * l_Falloff;", 4);
    } else if (structs) {
        t.Block(R"(
    vec3 l_L = LOCALS.LightDir.xyz;
    vec3 l_H = normalize(V + l_L);
    l_LightIntensity += _Lights[i]._Intensity;
    float l_NdotL = max(dot(N, l_L), 0.0);
    float l_NdotH = max(dot(N, l_H), 0.0);
    float l_VdotH = max(dot(V, l_H), 0.0);
    vec3 l_LightRadiance = _Lights[i]._Diffuse.rgb * LOCALS.Attenuation * l_NdotL;
    LOCALS.Diffuse += l_LightRadiance * BRDF_lambertian(F0, F90, l_CDiff, l_SpecularWeight, l_VdotH);
    LOCALS.Specular += l_LightRadiance * BRDF_specularGGX(F0, F90, l_AlphaRoughness, l_SpecularWeight, l_VdotH, l_NdotL, l_NdotV, l_NdotH);
    LOCALS.Shading *= LOCALS.Attenuation * l_Falloff;
)");
    }
    return t.Take();
}

std::string TKorvaneGLSLLightingSumNode::ToString()
{
    if (!Def("LIGHTING") || Def("PBR")) return {};
    TGLSLText t;
    t.Block(R"(
    LOCALS.Shading *= _ShadingIntensity;
    LOCALS.Ambient += _Lights[i]._Ambient.rgb;
    LOCALS.Diffuse += _Lights[i]._Diffuse.rgb * _Lights[i]._Intensity * LOCALS.Shading.x;
)");
    if (Def("USE_SPECULAR")) t.L("LOCALS.Specular += _Lights[i]._Specular.rgb * LOCALS.Shading.y;", 4);
    return t.Blank().Take();
}

std::string TKorvaneGLSLSpecularColorNode::ToString()
{
    if (!Def("LIGHTING")) return {};
    return TGLSLText()
        .L(Def("USE_SPECULAR") ? "LOCALS.SpecularColor = _Material[0]._Specular.rgb;"
                               : "LOCALS.SpecularColor = vec3(0.0);")
        .Take();
}

std::string TKorvaneGLSLPBRPrepareNode::ToString()
{
    if (!Def("LIGHTING") || !Def("PBR")) return {};
    const bool T = Def("PBR_TEX");
    const bool TA = Def("PBR_TEX_ALBEDO") && Def("USE_TEXTURE0");
    const bool TM = Def("PBR_TEX_METALLIC");
    const bool TR = Def("PBR_TEX_ROUGHNESS");
    const bool TO = Def("PBR_TEX_AO");
    const bool TE = Def("PBR_TEX_EMISSIVE");
    const bool TS = Def("SpecularMapTexture");
    TGLSLText t;
    if (T) {
        if (TA)
            t.Block(R"(
  vec4 l_AlbedoTexColor = tex2D(_Texture0, LOCALS.TexCoord0);
  LOCALS.BaseColor = sRGBToLinear(l_AlbedoTexColor);
  LOCALS.Alpha = l_AlbedoTexColor.a;
)");
        else
            t.Block(R"(
  LOCALS.BaseColor = _Material[0]._Diffuse;
  LOCALS.Alpha = _Material[0]._Diffuse.a;
)");
    }
    t.L("vec3 l_Albedo = LOCALS.BaseColor.rgb;");
    if (!(T && TM && TR && TO))
        t.L("float l_GrayScaleFlt = (0.299 * l_Albedo.r + 0.587 * l_Albedo.g + 0.114 * l_Albedo.b) * 2.25;");

    if (T && TM)
        t.Block(R"(
  float l_Metallic = tex2D(_MetalnessTexture, LOCALS.TexCoord0).b;
  if(_PassData[0]._PBRMetallic > PBR_Epsilon){ l_Metallic *= _PassData[0]._PBRMetallic; }
)");
    else
        t.L("float l_Metallic = l_GrayScaleFlt * _PassData[0]._PBRMetallic;");
    t.L("if(l_Metallic < PBR_Epsilon){ l_Metallic = PBR_Epsilon; }");

    if (T && TR)
        t.Block(R"(
  float l_Roughness = tex2D(_RoughnessTexture, LOCALS.TexCoord0).g;
  if(_PassData[0]._PBRRoughness > PBR_Epsilon){ l_Roughness *= _PassData[0]._PBRRoughness; }
)");
    else
        t.L("float l_Roughness = l_GrayScaleFlt * _PassData[0]._PBRRoughness;");
    t.L("if(l_Roughness < PBR_Epsilon){ l_Roughness = PBR_Epsilon; }");

    if (T && TO)
        t.Block(R"(
  float l_AO = tex2D(_AmbientOcclusionTexture, LOCALS.TexCoord0).r;
  if(_PassData[0]._PBRAO > PBR_Epsilon){ l_AO *= _PassData[0]._PBRAO; }
)");
    else
        t.L("float l_AO = _PassData[0]._PBRAO;");
    t.L("if(l_AO < PBR_Epsilon){ l_AO = PBR_Epsilon; }");

    if (T && TE)
        t.L("LOCALS.Emissive = LOCALS.Emissive * tex2D(_EmissiveTexture, LOCALS.TexCoord0).rgb * PBR_EmissiveFac;");
    else
        t.L("LOCALS.Emissive *= PBR_EmissiveFac;");

    t.Block(R"(
  vec3 N = LOCALS.Normal.xyz;
  vec3 V = LOCALS.FragViewDir.xyz;
  float l_NdotV = max(0.0, dot(N, V));
  float l_Shininess = _Material[0]._Shininess;
  if(l_Shininess > 1.0){ l_Shininess /= 100.0; }
  float l_SpecularWeight = 1.0;
  vec3 F90 = vec3(1.0);
  float ior = 1.5;
  LOCALS.Shading = vec2(1.0, 1.0);
  float l_LightIntensity = 0.0;
)");
    if (TS)
        // Specular-glossiness: the map's colour scales F0, its alpha the glossiness.
        t.Block(R"(
  vec3 F0 = _Material[0]._Specular.rgb;
  l_Roughness = l_Shininess;
  vec4 l_SpecularSample = sRGBToLinear(tex2D(_SpecularMapTexture, LOCALS.TexCoord0));
  l_Roughness *= l_SpecularSample.a;
  F0 *= l_SpecularSample.rgb;
  float l_F0Max = max(max(F0.r, F0.g), F0.b);
  l_Roughness = 1.0 - l_Roughness;
  vec3 l_CDiff = l_Albedo * (1.0 - l_F0Max);
)");
    else
        t.Block(R"(
  vec3 l_CDiff = mix(l_Albedo, vec3(0.0), l_Metallic);
  l_Roughness = applyIorToRoughness(l_Roughness, ior);
  vec3 F0 = mix(Fdielectric, l_Albedo, l_Metallic);
)");
    t.Block(R"(
  float l_AlphaRoughness = l_Roughness * l_Roughness;
  LOCALS.Diffuse = vec3(0.0);
  LOCALS.Specular = vec3(0.0);
  LOCALS.Ambient = vec3(0.0);
)");
    return t.Take();
}

std::string TKorvaneGLSLMergedColorOutputNode::ToString()
{
    TGLSLText t;
    if (!Def("LIGHTING")) {
        return t
            .Block(R"(
  LOCALS.SumColor = (_Material[0]._Emissive.rgb * _Material[0]._Emissive.a + _Material[0]._Ambient.rgb + _Material[0]._Diffuse.rgb + _Material[0]._Specular.rgb) * LOCALS.BaseColor.rgb;
)")
            .Take();
    }
    if (Def("PBR")) {
        t.L("LOCALS.Diffuse *= _Material[0]._Diffuse.rgb * l_AO;");
        if (Def("SpecularMapTexture")) t.L("LOCALS.Specular *= l_AO;");
        else t.L("LOCALS.Specular *= _Material[0]._Specular.rgb * l_Shininess * l_AO;");
        t.L("LOCALS.Ambient = LOCALS.Diffuse * _Material[0]._Ambient.rgb * l_AO;");
        if (!Def("ENVIRONMENT"))
            t.Block(R"(
  vec3 l_Radiance = getIBLRadianceGGX(F0, l_NdotV, l_Roughness, F0, l_SpecularWeight);
  LOCALS.Specular += l_Radiance;
)");
        t.Block(R"(
  if(_LightsCount > 0){ l_LightIntensity = l_LightIntensity / float(_LightsCount); } else { l_LightIntensity = 1.0; }
  LOCALS.Diffuse += LOCALS.Specular;
  LOCALS.Diffuse += LOCALS.Ambient * LOCALS.Shading.y;
  LOCALS.SumColor = LOCALS.Diffuse * _ShadingIntensity * LOCALS.Shading.x;
)");
        if (FirstToneMap(FBuilder)) t.L("LOCALS.SumColor = toneMap(LOCALS.SumColor, _Material[0]._ToneMapExp);");
        else t.L("LOCALS.SumColor = linearTosRGB(LOCALS.SumColor);");
        t.Block(R"(
  LOCALS.SumColor *= l_LightIntensity;
  LOCALS.SumColor *= clamp(LOCALS.SceneAttenuation, 0.0, 1.0);
  LOCALS.SumColor += LOCALS.Emissive;
)");
    } else {
        t.Block(R"(
  LOCALS.Specular *= LOCALS.SpecularColor;
  LOCALS.SumColor = _Material[0]._Ambient.rgb * LOCALS.Ambient + _Material[0]._Diffuse.rgb * LOCALS.Diffuse + LOCALS.Specular;
  LOCALS.SumColor = clamp(LOCALS.SceneAttenuation, 0.0, 1.0) * (LOCALS.SumColor * LOCALS.BaseColor.rgb);
  LOCALS.SumColor += LOCALS.Emissive;
)");
    }
    if (Def("SHADOW"))
        t.Block(R"(
  LOCALS.ShadowSum = clamp(LOCALS.ShadowSum, 0.0, 1.0);
  LOCALS.SumColor *= LOCALS.ShadowSum;
)");
    return t.Take();
}

} // namespace korvane
