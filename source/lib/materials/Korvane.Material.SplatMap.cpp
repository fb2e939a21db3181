#include "Korvane.Material.SplatMap.h"

#include "Korvane.Context.Types.h"
#include "Korvane.Context.Shader.h"
#include "Korvane.Context.h"
#include "Korvane.Material.Default.GLSL.Text.h"
#include "Platform.ClassRegistry.h"
#include "Platform.SysUtils.h"

namespace korvane {

using glsl::TGLSLText;

// ---------------------------------------------------------------------------
// Shader nodes

std::string TKorvaneGLSLSplatMapFuncNode::ToString()
{
    if (!Def("SPLATMAP")) return {};
    // The splat map's own tiling wraps the coordinate first (written back to
    // the caller); each terrain image then tiles the wrapped coordinate.
    return TGLSLText()
        .Block(R"(
vec4 SplatMapSurf(inout vec2 p_TexCoord, in Material p_Material, in int p_UseBlackAsTransparent, sampler2D p_Texture0, sampler2D p_SplatTexture0, sampler2D p_SplatTexture1, sampler2D p_SplatTexture2, sampler2D p_SplatTexture3){
  p_TexCoord = vec2(mod(p_TexCoord.x * p_Material._Texture[4]._Tiling.x, 1.0), mod(p_TexCoord.y * p_Material._Texture[4]._Tiling.y, 1.0));
  vec4 l_Control = tex2D(p_Texture0, p_TexCoord);
  vec2 l_Coord0 = vec2(mod(p_TexCoord.x * p_Material._Texture[0]._Tiling.x, 1.0), mod(p_TexCoord.y * p_Material._Texture[0]._Tiling.y, 1.0));
  vec2 l_Coord1 = vec2(mod(p_TexCoord.x * p_Material._Texture[1]._Tiling.x, 1.0), mod(p_TexCoord.y * p_Material._Texture[1]._Tiling.y, 1.0));
  vec2 l_Coord2 = vec2(mod(p_TexCoord.x * p_Material._Texture[2]._Tiling.x, 1.0), mod(p_TexCoord.y * p_Material._Texture[2]._Tiling.y, 1.0));
  vec2 l_Coord3 = vec2(mod(p_TexCoord.x * p_Material._Texture[3]._Tiling.x, 1.0), mod(p_TexCoord.y * p_Material._Texture[3]._Tiling.y, 1.0));
  vec4 l_Sample0 = tex2D(p_SplatTexture0, l_Coord0).rgba;
  vec4 l_Sample1 = tex2D(p_SplatTexture1, l_Coord1).rgba;
  vec4 l_Sample2 = tex2D(p_SplatTexture2, l_Coord2).rgba;
  vec4 l_Sample3 = tex2D(p_SplatTexture3, l_Coord3).rgba;
  vec4 l_Color = l_Control.r * l_Sample0 + l_Control.g * l_Sample1 + l_Control.b * l_Sample2;
  if(p_UseBlackAsTransparent == 0){
    l_Color += (1.0 - l_Control.r - l_Control.g - l_Control.b) * l_Sample3;
  }
  return l_Color;
}

)")
        .Take();
}

std::string TKorvaneGLSLSplatMapTextureCoordsNode::ToString()
{
    if (!Def("USE_TEXTURE")) return {};
    return TGLSLText()
        .L(Def("VARYING_STRUCTS") ? "LOCALS.TexCoord0 = vars.v_TexCoord0;" : "LOCALS.TexCoord0 = v_TexCoord0;")
        .L("vec2 l_Tiling0 = vec2(1.0, 1.0);")
        .Take();
}

std::string TKorvaneGLSLSplatMapBaseColorNode::ToString()
{
    if (!Def("SPLATMAP")) return TKorvaneGLSLGetBaseColorNode::ToString();
    return TGLSLText()
        .L("LOCALS.BaseColor = SplatMapSurf(LOCALS.TexCoord0, _Material[0], _UseBlackAsTransparent, _Texture0, "
           "_SplatTexture0, _SplatTexture1, _SplatTexture2, _SplatTexture3);")
        .L("LOCALS.Alpha = LOCALS.BaseColor.a;")
        .Take();
}

// ---------------------------------------------------------------------------
// Material

KORVANE_IMPLEMENT_CLASS(TKorvaneSplatMapMaterial, "Korvane.Material.SplatMap")

void TKorvaneSplatMapMaterial::AfterConstruction()
{
    TKorvaneDefaultMaterial::AfterConstruction();
    SetUseLighting(true);
    SetUseSpecular(true);
    SetUseTexture0(true);
    SetUseTexturing(true);
}

void TKorvaneSplatMapMaterial::DoCreateVertexShaderBuilder()
{
    TKorvaneDefaultMaterial::DoCreateVertexShaderBuilder();
    FVSNode->AddDefine("SPLATMAP");
}

namespace {

// Puts ANode in place of the first child of class T of AParent, or first when there is none.
template <class T>
void ReplaceFirst(TKorvaneCompositeNode* AParent, std::unique_ptr<TKorvaneNodeEntity> ANode)
{
    const int index = AParent->IndexOf<T>();
    if (index >= 0) {
        AParent->Delete(index);
        AParent->Insert(index, std::move(ANode));
    } else {
        AParent->Insert(0, std::move(ANode));
    }
}

} // namespace

void TKorvaneSplatMapMaterial::DoCreateFragmentShaderBuilder()
{
    TKorvaneDefaultMaterial::DoCreateFragmentShaderBuilder();
    TKorvaneGLSLFragmentShader* fs = FFSNode.get();
    fs->AddDefine("SPLATMAP");
    fs->Globals()->Uniforms()->AddNew<TKorvaneGLSLUniformsNode>()->AddDeclaration("_UseBlackAsTransparent", stInt);
    fs->Globals()->Functions()->AddNew<TKorvaneGLSLSplatMapFuncNode>();
    ReplaceFirst<TKorvaneGLSLTextureCoordsNode>(fs->EntryPoint(),
                                                std::make_unique<TKorvaneGLSLSplatMapTextureCoordsNode>(fs));
    if (fs->SurfaceShader())
        ReplaceFirst<TKorvaneGLSLGetBaseColorNode>(fs->SurfaceShader(),
                                                   std::make_unique<TKorvaneGLSLSplatMapBaseColorNode>(fs));
}

void TKorvaneSplatMapMaterial::DoBuildFragmentShader()
{
    TKorvaneDefaultMaterial::DoBuildFragmentShader();
    AddShaderSourceVariables(FFSShaderSource, {TContextShaderVariable::Create("UseBlackAsTransparent",
                                                                              ShaderVariableKindInt, FFSVarIndex, 0)});
    ++FFSVarIndex;
}

void TKorvaneSplatMapMaterial::DoApply(TContext3D* AContext)
{
    TKorvaneDefaultMaterial::DoApply(AContext);
    if (FErrorOnBuildingShader) return;
    if (auto* context = dynamic_cast<TKorvaneContext*>(AContext))
        context->SetShaderVariableInt("UseBlackAsTransparent", {FUseBlackAsTransparent ? 1 : 0});
}

// ---------------------------------------------------------------------------
// Source

TClass TKorvaneSplatMapMaterialSource::StaticClass()
{
    // Class references live for the whole run: unit shut-downs still use them.
    using T = TKorvaneSplatMapMaterialSource;
    static const auto& info = *new TClassInfo<T, TKorvaneMaterialSourceClass>("Korvane.Material.SplatMap", [](auto& c) {
        c.Property("UseBlackAsTransparent", &T::UseBlackAsTransparent, &T::SetUseBlackAsTransparent);
    });
    return &info;
}

TMaterial* TKorvaneSplatMapMaterialSource::CreateMaterial()
{
    return TKorvaneSplatMapMaterial::Create<TKorvaneSplatMapMaterial>(this);
}

namespace {
std::string SplatName(int AIndex) { return Format("SplatTexture%d", AIndex); }
} // namespace

void TKorvaneSplatMapMaterialSource::DoCreateDefaultBitmaps()
{
    TKorvaneDefaultMaterial* material = DefaultMaterial();
    if (!material) return;
    for (int i = 0; i < 4; ++i)
        AddBitmap(SplatName(i), TPixelFormatEx::RGBA8, TPixelFormatEx::BGRA, TKorvaneTextureDataType::dtUnsignedByte,
                  false, false, false, TContextShaderKind::PixelShader, TKorvaneTextureKind::Texture2D);
    material->UpdateShaderProgram();
    TKorvaneDefaultMaterialSource::DoCreateDefaultBitmaps();
    // The tiling accessors address the terrain images from the position of
    // the first one, wherever the pool holds it (a streamed pool included).
    if (const TKorvaneBitmapPoolEntry* first = FindBitmapEntryByName(SplatName(0)))
        material->ShaderData().Material._PoolTexturesOffset = first->Index();
}

TKorvaneTextureBitmap* TKorvaneSplatMapMaterialSource::GetSplatTexture(int AIndex) const
{
    const std::string name = SplatName(AIndex);
    return NamedBitmap(name, Format("%s not activated in material", name).c_str());
}

void TKorvaneSplatMapMaterialSource::SetSplatTexture(int AIndex, const TBitmap* AValue)
{
    if (TKorvaneTextureBitmap* bitmap = GetSplatTexture(AIndex)) bitmap->Assign(AValue);
}

TPointF TKorvaneSplatMapMaterialSource::GetSplatTextureTiling(uint8_t AIndex) const
{
    return Bitmaps()->Items(SplatMapMaterial()->ShaderData().Material._PoolTexturesOffset + AIndex)->Tiling();
}

void TKorvaneSplatMapMaterialSource::SetSplatTextureTiling(uint8_t AIndex, const TPointF& AValue)
{
    Bitmaps()->Items(SplatMapMaterial()->ShaderData().Material._PoolTexturesOffset + AIndex)->SetTiling(AValue);
    DoSyncTexturePool();
}

void TKorvaneSplatMapMaterialSource::LoadFromDefinition(TCustomDef* ADef)
{
    TKorvaneDefaultMaterialSource::LoadFromDefinition(ADef);
    auto* def = dynamic_cast<TMaterialDef*>(ADef);
    TValue value;
    if (def && ReadMaterialExtension(*def, "SplatMap", "UseBlackAsTransparent", value))
        SetUseBlackAsTransparent(value.AsBoolean());
}

void TKorvaneSplatMapMaterialSource::StoreToDefinition(TCustomDef* ADef)
{
    if (auto* def = dynamic_cast<TMaterialDef*>(ADef)) {
        TProperties& splat = TakeMaterialExtension(*def, "SplatMap").Properties();
        splat.AddOrSetValue("UseBlackAsTransparent", TValue::From(UseBlackAsTransparent()));
        for (const char* name : {"Texture0", "SplatTexture0", "SplatTexture1", "SplatTexture2", "SplatTexture3"}) {
            const TKorvaneTextureBitmap* bitmap = FindBitmapByName(name);
            splat.AddOrSetValue(name, TValue::From(bitmap && !bitmap->IsEmpty()));
        }
    }
    TKorvaneDefaultMaterialSource::StoreToDefinition(ADef);
}

} // namespace korvane

namespace korvane::units {

// Form reading finds the source by name; there is no separate list of
// designer classes here, so it joins the one class registry.
void MaterialSplatMapInitialize() { RegisterClass<TKorvaneSplatMapMaterialSource>(); }

void MaterialSplatMapFinalize() { UnRegisterClass(TKorvaneSplatMapMaterialSource::StaticClass()); }

} // namespace korvane::units
