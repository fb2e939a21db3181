// The surface and output of the GLSL node library: texture, colour-space,
// bump, parallax, atlas and fog functions, the surface statements before and
// inside the surface shader, and the fragment outputs.

#include "Korvane.Material.Default.GLSL.Text.h"
#include "Korvane.Material.Default.GLSL.h"

namespace korvane {

using glsl::TGLSLText;
using glsl::Vary;
using glsl::VaryPrefix;

// ---------------------------------------------------------------------------
// Texture, colour-space, bump, parallax, atlas and fog functions

std::string TKorvaneGLSLGetTextureFuncsNode::ToString()
{
    TGLSLText t;
    t.Block(R"(
const float GAMMA = 2.2;
const float INV_GAMMA = 1.0 / GAMMA;

vec3 linearTosRGB(vec3 color){
  return pow(color, vec3(INV_GAMMA));
}

vec3 sRGBToLinear(vec3 srgbIn){
  return pow(srgbIn, vec3(GAMMA));
}

vec4 sRGBToLinear(vec4 srgbIn){
  return vec4(sRGBToLinear(srgbIn.xyz), srgbIn.w);
}

float sFloatToLinear(float x){
  return pow(x, GAMMA);
}

)");
    if (!Def("USE_TEXTURE") && !Def("ENVIRONMENT") && !Def("DISPLACEMENT")) return t.Take();
    if (Def("DEPRECATED")) {
        t.Block(R"(
vec4 tex2D(in sampler2D p_Texture, in vec2 p_TexCoord){
  return texture2D(p_Texture, p_TexCoord);
}

vec4 tex2DProj(in sampler2D p_Texture, in vec4 p_TexCoord){
  return texture2DProj(p_Texture, p_TexCoord);
}

)");
    } else {
        t.Block(R"(
vec4 tex2D(in sampler2D p_Texture, in vec2 p_TexCoord){
  return texture(p_Texture, p_TexCoord);
}

vec4 tex2DProj(in sampler2D p_Texture, in vec4 p_TexCoord){
  return textureProj(p_Texture, p_TexCoord);
}

vec4 tex3D(in sampler3D p_Texture, in vec3 p_TexCoord){
  return texture(p_Texture, p_TexCoord);
}

)");
    }
    t.Block(R"(
vec4 texCube(in samplerCube p_Texture, in vec3 p_TexCoord){
  return texture(p_Texture, p_TexCoord);
}

)");
    if (Def("PACKED_NORMAL"))
        t.Block(R"(
vec3 Texture_GetNormal(in sampler2D normalMap, in vec2 texCoord){
  return Common_UnpackNormal(tex2D(normalMap, texCoord).rgb);
}

vec4 Texture_GetColor(in sampler2D colorMap, in vec2 texCoord){
  return tex2D(colorMap, texCoord);
}

)");
    return t.Take();
}

std::string TKorvaneGLSLGetTextureAtlasFuncNode::ToString()
{
    if (!Def("USE_TEXTURE_ATLAS")) return {};
    return TGLSLText()
        .Block(R"(
bool GetTextureAtlasColor(in sampler2D p_Texture, in vec2 p_TexCoord0, in vec4 p_Settings, in vec2 p_PointCoord, in vec2 p_TexSize, out vec4 p_Color){
  vec2 l_Uv;
  if(abs(p_Settings.y) > 0.0001){
    float l_Angle = radians(p_Settings.y);
    float l_Cos = cos(l_Angle);
    float l_Sin = sin(l_Angle);
    vec2 l_Rotated = vec2(l_Cos * (p_PointCoord.x - 0.5) + l_Sin * (p_PointCoord.y - 0.5) + 0.5, l_Cos * (p_PointCoord.y - 0.5) - l_Sin * (p_PointCoord.x - 0.5) + 0.5);
    l_Uv = p_TexCoord0 + l_Rotated * p_TexSize;
  } else {
    l_Uv = p_TexCoord0 + p_PointCoord * p_TexSize;
  }
  p_Color = tex2D(p_Texture, l_Uv);
  p_Color.a = clamp(log(1.0 + p_Color.a), 0.0, 1.0) * p_Settings.z;
  if(p_Settings.w > 0.1){
    p_Color.a *= clamp(pow(1.0 - distance(p_PointCoord, vec2(0.5, 0.5)), p_Settings.w), 0.0, 1.0);
  }
  return p_Color.a > 0.04;
}

)")
        .Take();
}

std::string TKorvaneGLSLBumpFuncsNode::ToString()
{
    if (!Def("BUMP")) return {};
    const bool pom = Def("POM");
    TGLSLText t;
    t.Block(R"(
vec3 CalcBumpedNormal(in mat3 p_TBN, in float p_NormalIntensity, sampler2D p_NormalMap, vec2 p_TexCoord){
  vec3 l_Normal = tex2D(p_NormalMap, p_TexCoord).rgb;
  if(length(l_Normal) < 0.001){
    l_Normal = p_TBN[2] * 2.0 - 1.0;
    l_Normal.b *= p_NormalIntensity;
    return normalize(l_Normal);
  }
  l_Normal = normalize(l_Normal * 2.0 - 1.0);
)");
    // With parallax occlusion the normal map's depth already carries the intensity.
    if (!pom)
        t.Block(R"(
  l_Normal.b *= p_NormalIntensity;
  l_Normal = normalize(l_Normal);
)");
    t.Block(R"(
  return normalize(p_TBN * l_Normal);
}

)");
    if (!pom)
        t.Block(R"(
vec3 ConvertDirectXNormalToOpenGL(vec3 p_Normal){
  return vec3(p_Normal.x, p_Normal.y, sqrt(1.0 - dot(p_Normal.xy, p_Normal.xy)));
}

)");
    t.Block(R"(
vec4 BumpSum(sampler2D p_BaseTex, vec2 p_TexCoord, vec3 p_Normal){
  return tex2D(p_BaseTex, p_TexCoord.xy);
}

)");
    return t.Take();
}

std::string TKorvaneGLSLPOMFuncsNode::ToString()
{
    // The function samples through tex2D, which exists only with the sampling
    // wrappers; parallax occlusion switched on without them must still compile
    // (only the textured path calls the function).
    if (!Def("POM") || !(Def("USE_TEXTURE") || Def("ENVIRONMENT") || Def("DISPLACEMENT"))) return {};
    return TGLSLText()
        .Block(R"(
vec2 ParallaxOcclusionMapping(in float p_NormalIntensity, in int p_ParallaxLevels, sampler2D p_DepthMap, vec2 p_Uv, vec3 p_FragViewDir, float p_Pivot){
  float l_NumLayers = mix(float(p_ParallaxLevels), 4.0, max(dot(vec3(0.0, 0.0, 1.0), p_FragViewDir), 0.0));
  float l_LayerDepth = 1.0 / l_NumLayers;
  float l_CurrentLayerDepth = 0.0;
  vec2 l_DeltaUv = (p_FragViewDir.xy / p_FragViewDir.z) / l_NumLayers * p_NormalIntensity;
  vec2 l_Uv = p_Uv + p_Pivot * l_DeltaUv;
  float l_Depth = tex2D(p_DepthMap, l_Uv).r;
  for(int i = 0; i < int(l_NumLayers); i++){
    if(l_CurrentLayerDepth > l_Depth){
      break;
    }
    l_Uv -= l_DeltaUv;
    l_Depth = tex2D(p_DepthMap, l_Uv).r;
    l_CurrentLayerDepth += l_LayerDepth;
  }
  vec2 l_PrevUv = l_Uv + l_DeltaUv;
  float l_After = l_Depth - l_CurrentLayerDepth;
  float l_Before = tex2D(p_DepthMap, l_PrevUv).r - l_CurrentLayerDepth + l_LayerDepth;
  float l_Weight = l_After / (l_After - l_Before);
  return mix(l_Uv, l_PrevUv, l_Weight);
}

)")
        .Take();
}

std::string TKorvaneGLSLFogFuncNode::ToString()
{
    return TGLSLText()
        .Block(R"(
#define GLI_FOG_ENABLED 1
#define GLI_FOG_MODE_LINEAR 2
#define GLI_FOG_MODE_EXP 4
#define GLI_FOG_MODE_EXP2 8

float computeFog(in int p_FogMode, in float p_FogStart, in float p_FogEnd, in float p_FogDensity, vec3 p_VertPos, vec3 p_EyePos){
  if((p_FogMode & GLI_FOG_ENABLED) == 0){
    return 1.0;
  }
  float l_Dist = length(p_VertPos - p_EyePos);
  float l_Fog;
  if((p_FogMode & GLI_FOG_MODE_LINEAR) != 0){
    l_Fog = (p_FogEnd - l_Dist) / (p_FogEnd - p_FogStart);
  } else if((p_FogMode & GLI_FOG_MODE_EXP) != 0){
    l_Fog = exp(-l_Dist * p_FogDensity);
  } else {
    l_Fog = exp(-(l_Dist * p_FogDensity) * (l_Dist * p_FogDensity));
  }
  return clamp(l_Fog, 0.0, 1.0);
}

)")
        .Take();
}

// ---------------------------------------------------------------------------
// Surface statements before the lights loop

std::string TKorvaneGLSLEmissiveColorNode::ToString()
{
    return TGLSLText()
        .L(Def("USE_EMISSIVE") ? "LOCALS.Emissive = _Material[0]._Emissive.rgb * _Material[0]._Emissive.a;"
                               : "LOCALS.Emissive = vec3(0.0);")
        .Take();
}

std::string TKorvaneGLSLGetTransfVertPosNode::ToString()
{
    return TGLSLText()
        .Block(R"(
  LOCALS.TransfVertPos = ${V}v_TransfVertPos.xyz;
  LOCALS.FragDepth = gl_FragCoord.z;
)",
               {{"V", VaryPrefix(FBuilder)}})
        .Take();
}

std::string TKorvaneGLSLGetNormalNode::ToString()
{
    if (Def("BUMP")) return {};
    return TGLSLText().Block("  LOCALS.Normal = ${V}v_TBN[2];\n", {{"V", VaryPrefix(FBuilder)}}).Take();
}

std::string TKorvaneGLSLGetFragViewDirNode::ToString()
{
    return TGLSLText().L("LOCALS.FragViewDir = normalize(_EyePos.xyz - LOCALS.TransfVertPos.xyz);").Take();
}

std::string TKorvaneGLSLTextureCoordsNode::ToString()
{
    if (!Def("USE_TEXTURE")) return {};
    TGLSLText t;
    // Every set reads the tiling of texture 0, and the coordinates are wrapped into [0, 1).
    auto set = [&](std::string_view ANumber) {
        t.Block(R"(
  LOCALS.TexCoord${N} = ${V}v_TexCoord${N};
  vec2 l_Tiling${N} = _Material[0]._Texture[0]._Tiling;
  LOCALS.TexCoord${N} = vec2(mod(LOCALS.TexCoord${N}.x * l_Tiling${N}.x, 1.0), mod(LOCALS.TexCoord${N}.y * l_Tiling${N}.y, 1.0));
)",
                {{"N", ANumber}, {"V", VaryPrefix(FBuilder)}});
    };
    set("0");
    if (Def("USE_TEXCOORD1")) set("1");
    if (Def("USE_TEXCOORD2")) set("2");
    if (Def("USE_TEXCOORD3")) set("3");
    return t.Take();
}

std::string TKorvaneGLSLPOMApplyNode::ToString()
{
    if (!Def("POM")) return {};
    TGLSLText t;
    t.L(Def("DEPRECATED") ? "LOCALS.Normal = v_TBN[2];" : "LOCALS.Normal = vars.v_TBN[2];");
    t.Block(R"(
  mat3 l_TBN2 = vars.v_TBN;
  vec3 l_TanViewPos = _EyePos.xyz * l_TBN2;
  vec3 l_TanFragPos = LOCALS.TransfVertPos.xyz * l_TBN2;
  vec3 l_POMViewDir = normalize(l_TanViewPos - l_TanFragPos);
)");
    if (Def("USE_TEXTURE")) {
        t.Block(R"(
  vec2 l_POMTexCoord = vec2(LOCALS.TexCoord0.x, 1.0 - LOCALS.TexCoord0.y);
  LOCALS.TexCoord0 = ParallaxOcclusionMapping(_PassData[0]._NormalIntensity, _PassData[0]._ParallaxLevels, _POMTexture, l_POMTexCoord, l_POMViewDir.xyz, 0.0);
)");
        if (Def("POM_DISCARD"))
            t.Block(R"(
  if((LOCALS.TexCoord0.x > 1.0) || (LOCALS.TexCoord0.y > 1.0) || (LOCALS.TexCoord0.x < 0.0) || (LOCALS.TexCoord0.y < 0.0)){ discard; }
)");
    }
    return t.Take();
}

// ---------------------------------------------------------------------------
// Surface shader statements

std::string TKorvaneGLSLGetBaseColorNode::ToString()
{
    const bool lighting = Def("LIGHTING");
    const bool texture0 = Def("USE_TEXTURE") && Def("USE_TEXTURE0");
    const bool vertexColor = Def("USE_VERTEXCOLOR");
    const std::initializer_list<glsl::TArg> args = {{"V", VaryPrefix(FBuilder)}};
    TGLSLText t;

    // Lit, the alpha comes from the colour source itself; unlit, from the base colour.
    auto plain = [&](bool ALit) {
        if (texture0 && vertexColor)
            t.Block(ALit ? R"(
  LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0) * ${V}v_Color0;
  LOCALS.Alpha = LOCALS.BaseColor.a * ${V}v_Color0.a;
)"
                         : R"(
  LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0) * ${V}v_Color0;
  LOCALS.Alpha = LOCALS.BaseColor.a;
)",
                    args);
        else if (texture0)
            t.Block(R"(
  LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0);
  LOCALS.Alpha = LOCALS.BaseColor.a;
)");
        else if (vertexColor)
            t.Block(ALit ? R"(
  LOCALS.BaseColor = ${V}v_Color0;
  LOCALS.Alpha = ${V}v_Color0.a;
)"
                         : R"(
  LOCALS.BaseColor = ${V}v_Color0;
  LOCALS.Alpha = LOCALS.BaseColor.a;
)",
                    args);
        else
            t.Block(ALit ? R"(
  LOCALS.BaseColor = _Material[0]._Diffuse;
  LOCALS.Alpha = _Material[0]._Diffuse.a;
)"
                         : R"(
  LOCALS.BaseColor = _Material[0]._Diffuse;
  LOCALS.Alpha = LOCALS.BaseColor.a;
)");
    };

    if (Def("BUMP")) {
        if (Def("PBR")) {
            // With lighting the PBR preparation has set the colour already.
            if (!lighting) plain(false);
        } else {
            t.L(texture0 ? "LOCALS.BaseColor = BumpSum(_Texture0, LOCALS.TexCoord0, LOCALS.Normal);"
                         : "LOCALS.BaseColor = _Material[0]._Diffuse;")
                .L("LOCALS.Alpha = LOCALS.BaseColor.a;");
        }
        return t.Take();
    }
    if (Def("USE_TEXTURE_ATLAS")) {
        if (Def("USE_POINTSPRITE")) {
            if (Def("DEPRECATED"))
                t.Block(R"(
  vec4 l_ParticleSettings = vec4(0.0, 1.0, 0.0, 1.0);
  if(!GetTextureAtlasColor(_Texture0, LOCALS.TexCoord0, l_ParticleSettings, gl_PointCoord, _TextureSize, LOCALS.BaseColor)){ discard; }
)");
            else
                t.Block(R"(
  if(!GetTextureAtlasColor(_Texture0, LOCALS.TexCoord0, ${V}v_ParticleSettings, gl_PointCoord, _TextureSize, LOCALS.BaseColor)){ discard; }
)",
                        args);
        } else {
            t.Block(R"(
  vec2 l_OfsTexCoord0 = LOCALS.TexCoord0 / _TextureSize + _TextureOfs;
  if(!GetTextureAtlasColor(_Texture0, l_OfsTexCoord0, vec4(0.0, 1.0, 0.0, 1.0), vec2(0.0, 0.0), _TextureSize, LOCALS.BaseColor)){ discard; }
)");
        }
        t.Block(R"(
  ${Out} = LOCALS.BaseColor;
  LOCALS.Alpha = LOCALS.BaseColor.a;
)",
                {{"Out", Def("DEPRECATED") ? "gl_FragColor" : "o_Albedo"}});
        return t.Take();
    }
    plain(lighting);
    return t.Take();
}

std::string TKorvaneGLSLAlphaCutoffNode::ToString()
{
    if (!Def("USE_ALPHACUTOFF")) return {};
    return TGLSLText()
        .Block(R"(
  if((_Material[0]._AlphaCutoff.x > 0.01) && (LOCALS.BaseColor.a < _Material[0]._AlphaCutoff.y)){ discard; }
)")
        .Take();
}

std::string TKorvaneGLSLSpecularMapNode::ToString()
{
    if (!Def("LIGHTING") || !Def("SPECULARMAP")) return {};
    return TGLSLText().L("LOCALS.SpecularColor += tex2D(_SpecularMapTexture, LOCALS.TexCoord0).rgb;").Take();
}

std::string TKorvaneGLSLFragColorOutputNode::ToString()
{
    return TGLSLText()
        .Block(R"(
  LOCALS.Alpha *= _Material[0]._Features.x;
  ${Out} = vec4(LOCALS.SumColor, LOCALS.Alpha);
)",
               {{"Out", Def("DEPRECATED") ? "gl_FragColor" : "o_Albedo"}})
        .Take();
}

std::string TKorvaneGLSLColorClipNode::ToString()
{
    if (!Def("USE_COLORCLIP")) return {};
    return TGLSLText()
        .Block(R"(
  if((abs(${C}.r - _Material[0]._Clipping.r) < _Material[0]._Clipping.a) && (abs(${C}.g - _Material[0]._Clipping.g) < _Material[0]._Clipping.a) && (abs(${C}.b - _Material[0]._Clipping.b) < _Material[0]._Clipping.a)){ discard; }
)",
               {{"C", Def("DEPRECATED") ? "gl_FragColor" : "o_Albedo"}})
        .Take();
}

std::string TKorvaneGLSLFogApplyNode::ToString()
{
    return TGLSLText()
        .Block(R"(
  ${Out} = mix(${Out}, _FogColor, 1.0 - computeFog(_FogMode, _FogStart, _FogEnd, _FogDensity, LOCALS.TransfVertPos.xyz, _EyePos.xyz));
)",
               {{"Out", Def("VARYING_STRUCTS") ? "o_Albedo" : "gl_FragColor"}})
        .Take();
}

std::string TKorvaneGLSLWeightedBlendedOITNode::ToString()
{
    if (Def("DEPRECATED")) return {};
    TGLSLText t;
    t.L("const int c_IsTranslucent = 0x02;");
    if (Def("DEFERRED")) {
        const std::string uv =
            Def("USE_TEXTURE_ATLAS") && Def("USE_TEXTURE") ? "LOCALS.TexCoord0" : Vary(FBuilder, "v_TexCoord0");
        t.Block(R"(
  if((_Options & c_IsTranslucent) == c_IsTranslucent){
    if(LOCALS.Alpha >= 0.003){
      o_Position = vec4(LOCALS.TransfVertPos.xyz, vars.v_WorldViewProjVertPos.z);
      o_Normals = LOCALS.Normal.xyz;
    } else {
      discard;
    }
  }
  o_Ambient = _Material[0]._Ambient.rgb;
  o_Emissive = LOCALS.Emissive;
  ${Specular}
  o_Components = vec4(${UV}, 1.0, 1.0);
)",
                // The lit specular sum exists only with lighting; unlit deferred output has none.
                {{"Specular", Def("LIGHTING") ? "o_Specular = LOCALS.Specular.rgb;" : "o_Specular = vec3(0.0);"},
                 {"UV", uv}});
    } else {
        t.Block(R"(
  if((_Options & c_IsTranslucent) == c_IsTranslucent){
    if(LOCALS.Alpha >= 0.003){
      o_Position = vec4(LOCALS.TransfVertPos.xyz, LOCALS.FragDepth);
      o_Normals = LOCALS.Normal.xyz;
      o_Emissive = LOCALS.Emissive;
    } else {
      discard;
    }
  }
)");
    }
    t.Block(R"(
  if((_Options & c_IsTranslucent) == c_IsTranslucent){
    vec4 l_OITColor = o_Albedo;
    float l_OITZ = abs(vars.v_WorldViewProjVertPos.z / _EyePos.z);
    float l_OITDistWeight = clamp(0.03 / (1e-5 + pow(l_OITZ, 4.0)), 1e-2, 3e3);
    float l_OITAlpha = LOCALS.Alpha;
    float l_OITWeight = max(min(1.0, max(max(l_OITColor.r, l_OITColor.g), l_OITColor.b) * l_OITAlpha), l_OITAlpha) * l_OITDistWeight;
    o_Albedo = vec4(l_OITColor.rgb * l_OITAlpha, l_OITAlpha) * l_OITWeight;
    o_Alpha = l_OITAlpha;
    o_Emissive = LOCALS.Emissive;
  } else {
    o_Position = vec4(LOCALS.TransfVertPos.xyz, vars.v_WorldViewProjVertPos.z);
    o_Normals = LOCALS.Normal.xyz;
    o_Emissive = LOCALS.Emissive;
    o_Alpha = 1.0;
  }
)");
    return t.Take();
}

} // namespace korvane
