#include "Korvane.Material.Layered.h"

#include <cstdint>

#include "Platform.Log.h"
#include "Platform.SysUtils.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneLayeredMaterialItem, "Korvane.Material.Layered")
KORVANE_IMPLEMENT_CLASS(TKorvaneLayeredMaterialCollection, "Korvane.Material.Layered")
KORVANE_IMPLEMENT_CLASS(TKorvaneLayeredMaterial, "Korvane.Material.Layered")
KORVANE_IMPLEMENT_CLASS(TKorvaneLayeredMaterialSource, "Korvane.Material.Layered")

namespace {

// Every generated or fixed shader of the framework ends its lines with CR LF.
constexpr const char* Header = "#version 430\r\n\r\n\r\n";

} // namespace

// ---------------------------------------------------------------------------
// Layers

void TKorvaneLayeredMaterialItem::SetMaterial(TMaterialSource* AValue)
{
    FMaterial = AValue;
    if (!AValue || !Collection()) return;
    if (auto* source = dynamic_cast<TKorvaneLayeredMaterialSource*>(Collection()->GetOwner()))
        source->FreeNotification(AValue);
}

void TKorvaneLayeredMaterialItem::Assign(const TPersistent* Source)
{
    if (const auto* other = dynamic_cast<const TKorvaneLayeredMaterialItem*>(Source)) {
        FName = other->FName;
        SetMaterial(other->FMaterial);
        return;
    }
    TCollectionItem::Assign(Source);
}

void TKorvaneLayeredMaterialItem::Notification(TComponent* AComponent, TOperation Operation)
{
    if (Operation == opRemove && AComponent && AComponent == FMaterial) FMaterial = nullptr;
}

TKorvaneLayeredMaterialCollection::TKorvaneLayeredMaterialCollection(TKorvaneLayeredMaterialSource* AOwner)
    : TOwnedCollection(AOwner, TKorvaneLayeredMaterialItem::StaticClass())
{
}

// ---------------------------------------------------------------------------
// The material

TKorvaneLayeredMaterial::~TKorvaneLayeredMaterial()
{
    // The names carry this object's address: a later material at the same
    // address must not find this one's shaders, and their GL stages go now.
    // A context that was handed this material for its next draw forgets it.
    if (TKorvaneContext* context = TKorvaneContext::CurrentContext();
        context && context->CurrentLayeredMaterial() == this)
        context->SetCurrentLayeredMaterial(nullptr);
    if (!Initialized()) return;
    try {
        TShaderManager::UnregisterShader(ShaderName(".fvs"));
        TShaderManager::UnregisterShader(ShaderName(".fps"));
    } catch (const Exception& e) {
        Log::d("<ERROR> TKorvaneLayeredMaterial.Destroy: %s", e.Message());
    }
}

int TKorvaneLayeredMaterial::GetMaterialsCount()
{
    return FSource && FSource->Materials() ? FSource->Materials()->Count() : 0;
}

TKorvaneLayeredMaterialItem* TKorvaneLayeredMaterial::GetMaterialItem(TContext3D*, int AIndex)
{
    const int count = GetMaterialsCount();
    if (count > 0 && AIndex < count) return FSource->Materials()->Items(AIndex);
    return nullptr;
}

TMaterialSource* TKorvaneLayeredMaterial::GetLayerMaterialSource(TContext3D* AContext, int AIndex)
{
    TKorvaneLayeredMaterialItem* item = GetMaterialItem(AContext, AIndex);
    return item ? item->Material() : nullptr;
}

std::string TKorvaneLayeredMaterial::GetMaterialProperty(TMaterialProperty AProperty) const
{
    return AProperty == TMaterialProperty::ModelViewProjection ? "MVPMatrix" : std::string();
}

std::string TKorvaneLayeredMaterial::ShaderName(const char* AExtension) const
{
    return "Layered-" + std::to_string(static_cast<int64_t>(reinterpret_cast<intptr_t>(this))) + AExtension;
}

std::string TKorvaneLayeredMaterial::VertexShaderText()
{
    return std::string(Header) +
           "uniform vec4 _MVPMatrix[4];\r\n"
           "in vec3 a_Position;\r\n"
           "out vec4 v_WorldProjViewVertPos;\r\n"
           "\r\n"
           "void main()\r\n"
           "{\r\n"
           "  vec4 l_Position = vec4(a_Position, 1.0);\r\n"
           "  v_WorldProjViewVertPos = vec4(dot(_MVPMatrix[0], l_Position), dot(_MVPMatrix[1], l_Position),\r\n"
           "                                dot(_MVPMatrix[2], l_Position), dot(_MVPMatrix[3], l_Position));\r\n"
           "  gl_Position = v_WorldProjViewVertPos;\r\n"
           "}\r\n";
}

std::string TKorvaneLayeredMaterial::FragmentShaderText()
{
    return std::string(Header) +
           "in vec4 v_WorldProjViewVertPos;\r\n"
           "layout(location = 0) out vec4 o_Albedo;\r\n"
           "layout(location = 1) out float o_Alpha;\r\n"
           "layout(location = 2) out vec4 o_Position;\r\n"
           "layout(location = 3) out vec3 o_Normals;\r\n"
           "layout(location = 4) out vec3 o_Emissive;\r\n"
           "\r\n"
           "void main()\r\n"
           "{\r\n"
           "  o_Albedo = vec4(0.0, 0.0, 0.0, 0.0);\r\n"
           "  o_Alpha = 0.0;\r\n"
           "  o_Position = vec4(v_WorldProjViewVertPos.xyz, gl_FragCoord.z);\r\n"
           "  o_Normals = vec3(0.0, 0.0, 0.0);\r\n"
           "  o_Emissive = vec3(0.0, 0.0, 0.0);\r\n"
           "}\r\n";
}

void TKorvaneLayeredMaterial::DoInitialize()
{
    const TContextShaderSource vertex(
        TContextShaderArch::GLSL, VertexShaderText(),
        {TContextShaderVariable::Create("MVPMatrix", TContextShaderVariableKind::Matrix, 0, 4)});
    const TContextShaderSource fragment(TContextShaderArch::GLSL, FragmentShaderText(), {});
    FVertexShader = TShaderManager::RegisterShaderFromData(ShaderName(".fvs"), TContextShaderKind::VertexShader, "",
                                                           {vertex});
    FPixelShader = TShaderManager::RegisterShaderFromData(ShaderName(".fps"), TContextShaderKind::PixelShader, "",
                                                          {fragment});
}

void TKorvaneLayeredMaterial::DoApply(TContext3D* AContext)
{
    TCustomMaterial::DoApply(AContext);
    auto* context = dynamic_cast<TKorvaneContext*>(AContext);
    if (!context) throw EInvalidCast();
    context->SetCurrentLayeredMaterial(this);
}

// ---------------------------------------------------------------------------
// The source

TKorvaneLayeredMaterialSource::TKorvaneLayeredMaterialSource(TComponent* AOwner)
    : TMaterialSource(AOwner), FMaterials(new TKorvaneLayeredMaterialCollection(this))
{
    Material();
}

TKorvaneLayeredMaterialSource::~TKorvaneLayeredMaterialSource() = default;

void TKorvaneLayeredMaterialSource::BeforeDestruction()
{
    FMaterials.reset();
    TMaterialSource::BeforeDestruction();
}

TMaterial* TKorvaneLayeredMaterialSource::CreateMaterial() { return new TKorvaneLayeredMaterial(this); }

void TKorvaneLayeredMaterialSource::SetMaterials(const TKorvaneLayeredMaterialCollection* AValue)
{
    if (FMaterials && AValue != FMaterials.get()) FMaterials->Assign(AValue);
}

TKorvaneLayeredMaterialItem* TKorvaneLayeredMaterialSource::AddLayer(const std::string& AName,
                                                                     TMaterialSource* AMaterial)
{
    TKorvaneLayeredMaterialItem* item = FMaterials->Add();
    item->SetDisplayName(AName);
    item->SetMaterial(AMaterial);
    return item;
}

void TKorvaneLayeredMaterialSource::Notification(TComponent* AComponent, TOperation Operation)
{
    TMaterialSource::Notification(AComponent, Operation);
    if (!FMaterials) return;
    for (int i = 0; i < FMaterials->Count(); ++i) FMaterials->Items(i)->Notification(AComponent, Operation);
}

} // namespace korvane
