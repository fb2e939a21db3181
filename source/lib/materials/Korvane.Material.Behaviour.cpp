#include "Korvane.Material.Behaviour.h"

#include <utility>

#include "Korvane.Context.Shader.h"
#include "Korvane.Material.Default.h"
#include "Platform.SysUtils.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TKorvaneMaterialBehaviour, "Korvane.Material.Behaviour")
KORVANE_IMPLEMENT_CLASS(TKorvaneMaterialBehaviourItem, "Korvane.Material.Behaviour")
KORVANE_IMPLEMENT_CLASS(TKorvaneMaterialBehaviourCollection, "Korvane.Material.Behaviour")

// ---------------------------------------------------------------------------
// TKorvaneMaterialBehaviour

TKorvaneMaterialBehaviour::TKorvaneMaterialBehaviour(TComponent* AOwner)
    : TComponent(AOwner), FUniqueID(GUIDToString(CreateGUID()))
{
}

TKorvaneMaterialBehaviour::~TKorvaneMaterialBehaviour() { FDef = nullptr; }

namespace {

TMaterialBehaviourDef& BehaviourDefinition(TCustomDef* ADef)
{
    auto* def = dynamic_cast<TMaterialBehaviourDef*>(ADef);
    if (!def) throw EInvalidCast();
    return *def;
}

} // namespace

void TKorvaneMaterialBehaviour::LoadFromDefinition(TCustomDef* ADef) { FUniqueID = BehaviourDefinition(ADef).Id(); }

void TKorvaneMaterialBehaviour::StoreToDefinition(TCustomDef* ADef) { BehaviourDefinition(ADef).SetId(FUniqueID); }

void TKorvaneMaterialBehaviour::AbstractCall(const char* AName) const
{
    throw EAbstractError(Format("Abstract Error: %s.%s", ClassName(), AName));
}

bool TKorvaneMaterialBehaviour::DoOnRegisterUniformBuffer(std::string&, std::unique_ptr<uint8_t[]>&, int32_t&)
{
    AbstractCall("DoOnRegisterUniformBuffer");
}

void TKorvaneMaterialBehaviour::DoOnInitializeUniformBuffer(TMaterial*, bool& AInitialized)
{
    AInitialized = true;
}

void TKorvaneMaterialBehaviour::DoOnCreateShader(TKorvaneNodeBuilder*, TContextShaderKind)
{
    AbstractCall("DoOnCreateShader");
}

void TKorvaneMaterialBehaviour::DoOnUpdateShader(TKorvaneNodeBuilder*, TContextShaderKind)
{
    AbstractCall("DoOnUpdateShader");
}

void TKorvaneMaterialBehaviour::DoOnRemoveShader(TKorvaneNodeBuilder*, TContextShaderKind)
{
    AbstractCall("DoOnRemoveShader");
}

void TKorvaneMaterialBehaviour::Apply(TMaterial*, TContext3D*, TKorvaneMaterialBehaviourItem*)
{
    AbstractCall("Apply");
}

// ---------------------------------------------------------------------------
// TKorvaneMaterialBehaviourItem

TKorvaneMaterialBehaviourCollection* TKorvaneMaterialBehaviourItem::BehaviourCollection() const
{
    return dynamic_cast<TKorvaneMaterialBehaviourCollection*>(Collection());
}

void TKorvaneMaterialBehaviourItem::SetBehaviour(TKorvaneMaterialBehaviour* AValue)
{
    TKorvaneMaterialBehaviourCollection* collection = BehaviourCollection();
    if (!collection || !collection->Material()) return;
    auto* material = dynamic_cast<TKorvaneDefaultMaterial*>(collection->Material());
    if (!material) throw EInvalidCast();

    if (FBehaviour && AValue != FBehaviour) {
        FBehaviour->DoOnRemoveShader(material->VertexShaderNode(), TContextShaderKind::VertexShader);
        FBehaviour->DoOnRemoveShader(material->FragmentShaderNode(), TContextShaderKind::PixelShader);
        FBehaviour->OnDetached(material);
    }
    FBehaviour = AValue;
    if (AValue) {
        collection->WatchBehaviour(AValue);
        AValue->DoOnCreateShader(material->VertexShaderNode(), TContextShaderKind::VertexShader);
        AValue->DoOnCreateShader(material->FragmentShaderNode(), TContextShaderKind::PixelShader);
        AValue->OnAttached(material);
    }
    material->UpdateShaderProgram();
}

void TKorvaneMaterialBehaviourItem::SetUBO(std::unique_ptr<uint8_t[]> AUBO, int32_t AUBOSize)
{
    FUBO = std::move(AUBO);
    FUBOSize = AUBOSize;
}

void TKorvaneMaterialBehaviourItem::OnRegisterUniformBuffer(TMaterial*, TContext3D*, TShaderProgram* AProgram)
{
    if (!FBehaviour) return;
    std::string name;
    std::unique_ptr<uint8_t[]> block;
    int32_t size = 0;
    if (!FBehaviour->DoOnRegisterUniformBuffer(name, block, size)) return;
    SetUBO(std::move(block), size);
    if (AProgram) AProgram->RegisterUniformBuffer(name, FUBO.get(), FUBOSize);
}

void TKorvaneMaterialBehaviourItem::OnUpdateShader(TKorvaneNodeBuilder* ABuilder, TContextShaderKind AKind)
{
    if (FBehaviour) FBehaviour->DoOnUpdateShader(ABuilder, AKind);
}

void TKorvaneMaterialBehaviourItem::Apply(TMaterial* AMaterial, TContext3D* AContext)
{
    if (!FBehaviour) return;
    if (!FBehaviour->FInitialized) FBehaviour->DoOnInitializeUniformBuffer(AMaterial, FBehaviour->FInitialized);
    FBehaviour->Apply(AMaterial, AContext, this);
}

void TKorvaneMaterialBehaviourItem::Notification(TComponent* AComponent, TOperation AOperation)
{
    if (AOperation == opRemove && AComponent && AComponent == FBehaviour) FBehaviour = nullptr;
}

void TKorvaneMaterialBehaviourItem::AssignTo(TPersistent* Dest) const
{
    auto* item = dynamic_cast<TKorvaneMaterialBehaviourItem*>(Dest);
    if (!item) {
        TCollectionItem::AssignTo(Dest);
        return;
    }
    item->FName = FName;
    item->FBehaviour = FBehaviour;
    if (FBehaviour)
        if (TKorvaneMaterialBehaviourCollection* collection = item->BehaviourCollection())
            collection->WatchBehaviour(FBehaviour);
}

// ---------------------------------------------------------------------------
// TKorvaneMaterialBehaviourCollection

// Hears of freed behaviours: an item must not keep one, whether or not the
// owner of the material forwards its notifications.
class TKorvaneMaterialBehaviourCollection::TWatcher : public TComponent {
public:
    explicit TWatcher(TKorvaneMaterialBehaviourCollection* ACollection) : TComponent(nullptr), FCollection(ACollection)
    {
    }
    void Notification(TComponent* AComponent, TOperation AOperation) override
    {
        TComponent::Notification(AComponent, AOperation);
        if (AOperation == opRemove) FCollection->Notification(AComponent, AOperation);
    }

private:
    TKorvaneMaterialBehaviourCollection* FCollection;
};

TKorvaneMaterialBehaviourCollection::TKorvaneMaterialBehaviourCollection(TMaterial* AMaterial)
    : TCollection(TKorvaneMaterialBehaviourItem::StaticClass()), FMaterial(AMaterial),
      FWatcher(new TWatcher(this))
{
}

TKorvaneMaterialBehaviourCollection::~TKorvaneMaterialBehaviourCollection() = default;

void TKorvaneMaterialBehaviourCollection::Notification(TComponent* AComponent, TOperation AOperation)
{
    for (int i = 0; i < Count(); ++i) Items(i)->Notification(AComponent, AOperation);
}

void TKorvaneMaterialBehaviourCollection::WatchBehaviour(TKorvaneMaterialBehaviour* ABehaviour)
{
    if (ABehaviour && FWatcher) FWatcher->FreeNotification(ABehaviour);
}

} // namespace korvane
