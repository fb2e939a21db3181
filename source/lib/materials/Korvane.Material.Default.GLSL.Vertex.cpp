// The vertex stage of the GLSL node library, and the fragment effects fed by
// what the vertex stage writes (clip distance, shadow, reflection,
// refraction, environment).

#include "Korvane.Material.Default.GLSL.Text.h"
#include "Korvane.Material.Default.GLSL.h"

namespace korvane {

using glsl::TGLSLText;
using glsl::Vary;
using glsl::VaryPrefix;

// ---------------------------------------------------------------------------
// Vertex stage

std::string TKorvaneGLSLMatricesOutNode::ToString()
{
    if (!Def("VERTEXSHADER")) return {};
    TGLSLText t;
    t.Blank();
    if (Def("SHADOW")) t.Blank();
    return t.Take();
}

std::string TKorvaneGLSLGetVertexPositionNode::ToString()
{
    return TGLSLText().L("LOCALS.Position = vec4(a_Position, 1.0);").Take();
}

std::string TKorvaneGLSLDisplacementMappingGetNode::ToString()
{
    if (!Def("DISPLACEMENT")) return {};
    return TGLSLText()
        .Block(R"(
  LOCALS.Displace = vec4(tex2D(_DisplacementMapTexture, a_TexCoord0.xy).rgb, 0.0);
  LOCALS.Displace = _Material[0]._Displacement.w * (vec4(a_Normal, 0.0) * LOCALS.Displace * vec4(_Material[0]._Displacement.xyz, 0.0));
)")
        .Take();
}

std::string TKorvaneGLSLDisplacementMappingApplyNode::ToString()
{
    if (!Def("DISPLACEMENT")) return {};
    return TGLSLText().L("LOCALS.Position += LOCALS.Displace;").Blank().Take();
}

std::string TKorvaneGLSLClippingPlaneGetNode::ToString()
{
    if (!Def("CLIPPINGPLANE")) return {};
    return TGLSLText().L("LOCALS.ClippingPlane = _ClippingPlane;").Take();
}

std::string TKorvaneGLSLVertexShaderOutputNode::ToString()
{
    // One buffer for the node's life: the material asks for the text at every rebuild.
    if (FBuffer.capacity() < 4096) FBuffer.reserve(4096);
    FBuffer.clear();

    const bool structs = Def("VARYING_STRUCTS");
    if (structs)
        glsl::AppendBlock(FBuffer, R"(
  LOCALS.TransfVertexPos = a_ModelMatrix * LOCALS.Position;
  LOCALS.TransfVertexPos.xyz = LOCALS.TransfVertexPos.xyz / LOCALS.TransfVertexPos.w;
  LOCALS.WorldViewProjVertPos = _ProjectionMatrix * _ViewMatrix * a_ModelMatrix * LOCALS.Position;
)");
    else
        glsl::AppendBlock(FBuffer, R"(
  LOCALS.TransfVertexPos = TransformModel(a_ModelMatrix, LOCALS.Position);
  LOCALS.TransfVertexPos.xyz = LOCALS.TransfVertexPos.xyz / LOCALS.TransfVertexPos.w;
  v_ViewDir = _ViewDir;
  LOCALS.WorldViewProjVertPos = TransformModelViewProjection(_ProjectionMatrix, _ViewMatrix, a_ModelMatrix, LOCALS.Position);
)");
    glsl::AppendBlock(FBuffer, R"(
  LOCALS.TexCoord0 = a_TexCoord0;
  LOCALS.Color0 = a_Color;
)");
    if (Def("USE_TEXCOORD1")) glsl::AppendBlock(FBuffer, "  LOCALS.TexCoord1 = a_TexCoord1;\n");
    if (Def("USE_TEXCOORD2")) glsl::AppendBlock(FBuffer, "  LOCALS.TexCoord2 = a_TexCoord2;\n");
    if (Def("USE_TEXCOORD3")) glsl::AppendBlock(FBuffer, "  LOCALS.TexCoord3 = a_TexCoord3;\n");

    if (Def("POM") || Def("NORMALMAP"))
        glsl::AppendBlock(FBuffer, R"(
  LOCALS.Normal = normalize(a_ModelMatrix * vec4(a_Normal, 0.0)).xyz;
  LOCALS.Tangent = normalize(a_ModelMatrix * vec4(a_Tangent, 0.0)).xyz;
)");
    else if (structs)
        glsl::AppendBlock(FBuffer, R"(
  mat4 l_TIMMat = transpose(inverse(a_ModelMatrix));
  mat3 l_NormalMatrix = mat3(l_TIMMat);
  LOCALS.Normal = normalize(l_NormalMatrix * a_Normal);
  LOCALS.Tangent = normalize(l_NormalMatrix * a_Tangent);
)");
    else
        glsl::AppendBlock(FBuffer, R"(
  mat4 l_TIMMat = transpose(inverse(a_ModelMatrix));
  mat3 l_NormalMatrix = mat3(l_TIMMat);
  LOCALS.Normal = TransformModelNormal(l_NormalMatrix, a_Normal);
  LOCALS.Tangent = TransformModelNormal(l_NormalMatrix, a_Tangent);
)");
    glsl::AppendBlock(FBuffer, R"(
  LOCALS.Binormal = cross(a_Normal, a_Tangent);
  LOCALS.Binormal = normalize(a_ModelMatrix * vec4(LOCALS.Binormal, 0.0)).xyz;

)");

    if (Def("REFLECTION"))
        glsl::AppendBlock(FBuffer, R"(
  ${V}v_ReflProjTextureCoords = (_PassData[0]._ReflectTextureMatrix * a_ModelMatrix) * LOCALS.Position;
)",
                          {{"V", VaryPrefix(FBuilder)}});
    return FBuffer;
}

std::string TKorvaneGLSLAdjustPointSizeNode::ToString()
{
    if (!Def("USE_POINTSPRITE")) return {};
    TGLSLText t;
    t.Block(R"(
  const float SIZE_MULTIPLIER = 2.0;
  float l_SpriteDist = clamp(LOCALS.WorldViewProjVertPos.w, 0.00001, 1000.0);
  float l_SpriteSize = (length(a_Color2) < 0.00001) ? 1.0 : a_Color2.x;
  float l_SpriteAspect = _ViewSize.x / _ViewSize.y;
  gl_PointSize = ((l_SpriteSize * SIZE_MULTIPLIER * l_SpriteAspect) / l_SpriteDist) * l_SpriteAspect;
)");
    if (Def("VARYING_STRUCTS")) {
        // The particle colour streams carry the sprite's size and settings.
        t.Block(R"(
  vars.v_ParticleSettings = a_Color2;
  vars.v_ParticleTimeInfo = a_Color3;
)");
    }
    return t.Take();
}

std::string TKorvaneGLSLVertexPositionOutputNode::ToString()
{
    TGLSLText t;
    // Every output is a varying: the prefix is the same for all of them.
    const std::initializer_list<glsl::TArg> args = {{"V", VaryPrefix(FBuilder)}};
    if (Def("CLIPPINGPLANE"))
        t.Block("  ${V}v_ClipDistance = dot(vec4(LOCALS.TransfVertexPos.xyz, 1.0), LOCALS.ClippingPlane);\n", args);
    t.Block(R"(
  ${V}v_TBN = mat3(LOCALS.Tangent, LOCALS.Binormal, LOCALS.Normal);
  ${V}v_TBN_UT = mat3(a_Tangent, cross(a_Normal, a_Tangent), a_Normal);

  ${V}v_TexCoord0 = LOCALS.TexCoord0;
)",
            args);
    if (Def("USE_TEXCOORD1")) t.Block("  ${V}v_TexCoord1 = LOCALS.TexCoord1;\n", args);
    if (Def("USE_TEXCOORD2")) t.Block("  ${V}v_TexCoord2 = LOCALS.TexCoord2;\n", args);
    if (Def("USE_TEXCOORD3")) t.Block("  ${V}v_TexCoord3 = LOCALS.TexCoord3;\n", args);
    t.Block(R"(
  ${V}v_Color0 = LOCALS.Color0;
  ${V}v_VertPos = LOCALS.Position;
  ${V}v_TransfVertPos = LOCALS.TransfVertexPos.xyz;
  ${V}v_WorldViewProjVertPos = LOCALS.WorldViewProjVertPos;
  gl_Position = LOCALS.WorldViewProjVertPos;
)",
            args);
    if (Def("VARYING_STRUCTS")) {
        t.L("vars.v_ModelMatrix = a_ModelMatrix;");
        if (Def("DISPLACEMENT") && Def("DISPLACE_VAR")) t.L("vars.v_Displace = LOCALS.Displace;");
    }
    return t.Take();
}

std::string TKorvaneGLSLTransformFuncsNode::ToString()
{
    return TGLSLText()
        .Block(R"(
vec4 TransformModel(in mat4 p_ModelMatrix, vec4 position){
  return p_ModelMatrix * position;
}

vec4 TransformModelViewProjection(in mat4 p_ProjMatrix, in mat4 p_ViewMatrix, in mat4 p_ModelMatrix, vec4 position){
  return p_ProjMatrix * p_ViewMatrix * p_ModelMatrix * position;
}

vec3 TransformModelNormal(in mat3 p_NormalMatrix, vec3 normal){
  return normalize(p_NormalMatrix * normal);
}

)")
        .Take();
}

std::string TKorvaneGLSLPackingFuncsNode::ToString()
{
    if (!Def("LIGHTING") || !Def("PACKED_NORMAL")) return {};
    return TGLSLText()
        .Block(R"(
vec3 Common_UnpackNormal(in vec3 norm){
  return norm * 2.0 - 1.0;
}

vec3 Common_UnpackNormalLA(in vec4 norm){
  vec3 n = norm.agb;
  n.b = sqrt(1.0 - (n.x * n.x) - (n.y * n.y));
  return n * 2.0 - 1.0;
}

vec3 Common_PackNormal(in vec3 norm){
  return norm * 0.5 + 0.5;
}

)")
        .Take();
}

// ---------------------------------------------------------------------------
// Fragment effects fed by vertex data

std::string TKorvaneGLSLClippingPlaneNode::ToString()
{
    if (!Def("FRAGMENTSHADER") || !Def("CLIPPINGPLANE")) return {};
    return TGLSLText()
        .Block(R"(
  const int c_ClipPlaneFlag = 0x01;
  if(((_Options & c_ClipPlaneFlag) == c_ClipPlaneFlag) && (${V}v_ClipDistance < 0.0)){ discard; }
)",
               {{"V", VaryPrefix(FBuilder)}})
        .Take();
}

std::string TKorvaneGLSLGetBumpNormalNode::ToString()
{
    if (!Def("LIGHTING") || !Def("NORMALMAP") || !Def("BUMP")) return {};
    const std::string uv = Def("USE_TEXTURE") ? "LOCALS.TexCoord0" : Vary(FBuilder, "v_TexCoord0");
    return TGLSLText()
        .Block(R"(
  LOCALS.Normal = CalcBumpedNormal(${V}v_TBN, _PassData[0]._NormalIntensity, _NormalMapTexture, ${UV});
)",
               {{"V", VaryPrefix(FBuilder)}, {"UV", uv}})
        .Take();
}

std::string TKorvaneGLSLAddShadowNode::ToString()
{
    if (!Def("LIGHTING") || !Def("SHADOW")) return {};
    if (Def("SHADOWMAPPING"))
        return TGLSLText()
            .Block(R"(
    LOCALS.ShadowSum += ShadowCalculation(_ShadowMapTexture0, _PassData[0]._ShadowMapMatrix[0], vars.v_ModelMatrix, LOCALS.LightDir);
)")
            .Take();
    if (Def("VARIANCESHADOWMAPPING"))
        return TGLSLText()
            .Block(R"(
    LOCALS.ShadowSum += ShadowCalculation(_ShadowMapTexture0, _PassData[0]._ShadowMapMatrix[0], vars.v_ModelMatrix);
)")
            .Take();
    return {};
}

std::string TKorvaneGLSLAddReflectionNode::ToString()
{
    if (!Def("REFLECTION")) return {};
    return TGLSLText()
        .Block(R"(
  if(_PassData[0]._ReflectionPower > 0.0){
    vec4 l_ReflTex = tex2DProj(_ReflectionTexture, ${V}v_ReflProjTextureCoords);
    LOCALS.BaseColor = mix(LOCALS.BaseColor, l_ReflTex, _PassData[0]._ReflectionPower);
  }
)",
               {{"V", VaryPrefix(FBuilder)}})
        .Take();
}

std::string TKorvaneGLSLAddRefractionNode::ToString()
{
    if (!Def("REFRACTION")) return {};
    return TGLSLText()
        .Block(R"(
  if(_PassData[0]._RefractionPower > 0.0){
    vec4 l_RefrTex = tex2D(_RefractionTexture, ${V}v_TexCoord0);
    LOCALS.BaseColor = mix(LOCALS.BaseColor, l_RefrTex, _PassData[0]._RefractionPower);
  }
)",
               {{"V", VaryPrefix(FBuilder)}})
        .Take();
}

std::string TKorvaneGLSLAddEnvironmentNode::ToString()
{
    if (!Def("ENVIRONMENT")) return {};
    const std::initializer_list<glsl::TArg> args = {{"V", VaryPrefix(FBuilder)}};
    if (Def("PBR")) {
        // Adds to the lit terms prepared for PBR instead of mixing the base colour.
        if (!Def("LIGHTING")) return {};
        return TGLSLText()
            .Block(R"(
  vec3 l_InvFragViewDir = normalize(LOCALS.FragViewDir.xyz);
  vec3 l_EnvNormal = ${V}v_TBN[2];
  float l_MipMapLevel = l_Roughness * 8.0;
  vec4 l_EnvTex;
  if(_PassData[0]._RefractionPower > 0.0){
    float l_RefrRatio = 1.0 / 1.52;
    vec3 l_RefrViewDir = ${V}v_TransfVertPos.xyz + refract(l_InvFragViewDir, l_EnvNormal, l_RefrRatio);
    l_EnvTex = texture(_EnvironmentTexture, l_RefrViewDir, l_MipMapLevel);
    LOCALS.Diffuse += (l_EnvTex.rgb * _PassData[0]._RefractionPower) * l_AO;
  }
  if(_PassData[0]._ReflectionPower > 0.0){
    vec3 l_ReflViewDir = ${V}v_TransfVertPos.xyz - reflect(l_InvFragViewDir, l_EnvNormal);
    l_EnvTex = texture(_EnvironmentTexture, l_ReflViewDir, l_MipMapLevel);
    l_EnvTex.rgb *= _PassData[0]._ReflectionPower;
    vec3 l_Radiance = getIBLRadianceGGX(l_EnvTex.rgb, l_NdotV, l_Roughness, F0, l_SpecularWeight);
    LOCALS.Specular += l_Radiance;
  }
)",
                   args)
            .Take();
    }
    return TGLSLText()
        .Block(R"(
  vec3 l_InvFragViewDir = normalize(LOCALS.FragViewDir.xyz);
  vec3 l_EnvNormal = ${V}v_TBN[2];
  vec4 l_EnvTex;
  if(_PassData[0]._RefractionPower > 0.0){
    float l_RefrRatio = 1.0 / 1.52;
    vec3 l_RefrViewDir = ${V}v_TransfVertPos.xyz + refract(l_InvFragViewDir, l_EnvNormal, l_RefrRatio);
    l_EnvTex = texCube(_EnvironmentTexture, l_RefrViewDir);
    LOCALS.BaseColor = mix(LOCALS.BaseColor, l_EnvTex, _PassData[0]._RefractionPower);
  }
  if(_PassData[0]._ReflectionPower > 0.0){
    vec3 l_ReflViewDir = ${V}v_TransfVertPos.xyz + reflect(l_InvFragViewDir, l_EnvNormal);
    l_EnvTex = texCube(_EnvironmentTexture, l_ReflViewDir);
    LOCALS.BaseColor = mix(LOCALS.BaseColor, l_EnvTex, _PassData[0]._ReflectionPower);
  }
)",
               args)
        .Take();
}

} // namespace korvane
