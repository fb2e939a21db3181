#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "Korvane.Context.Shader.h"
#include "MaterialTestSupport.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// Writes the behaviour's colour over the fragment colour at the end of main.
class TColorOverrideNode : public TKorvaneNodeEntity {
public:
    using TKorvaneNodeEntity::TKorvaneNodeEntity;
    std::string ToString() override { return "  o_Albedo = _TestColor;\r\n"; }
};

// A behaviour that logs its hooks as "<tag> <hook>" and, with a block, owns the
// uniform block "TestBehaviourData" { vec4 _TestColor; } that colours the fragments.
class TTestBehaviour : public TKorvaneMaterialBehaviour {
public:
    TTestBehaviour(std::vector<std::string>& ALog, std::string ATag, bool AHasBlock = true)
        : TKorvaneMaterialBehaviour(nullptr), FLog(ALog), FTag(std::move(ATag)), FHasBlock(AHasBlock)
    {
        OnAttached = [this](TObject* ASender) { Log(ASender ? "attached" : "attached to nothing"); };
        OnDetached = [this](TObject* ASender) { Log(ASender ? "detached" : "detached from nothing"); };
    }

    TAlphaColorF Color{0, 1, 0, 1};

    bool DoOnRegisterUniformBuffer(std::string& AName, std::unique_ptr<uint8_t[]>& AUBO, int32_t& AUBOSize) override
    {
        Log("register");
        if (!FHasBlock) return false;
        AName = "TestBehaviourData";
        AUBO = std::make_unique<uint8_t[]>(sizeof(Color));
        AUBOSize = sizeof(Color);
        return true;
    }
    void DoOnInitializeUniformBuffer(TMaterial* AMaterial, bool& AInitialized) override
    {
        Log("initialize");
        TKorvaneMaterialBehaviour::DoOnInitializeUniformBuffer(AMaterial, AInitialized);
    }
    void DoOnCreateShader(TKorvaneNodeBuilder* ABuilder, TContextShaderKind AKind) override
    {
        Log(Stage("create", AKind));
        if (!FHasBlock || AKind != TContextShaderKind::PixelShader) return;
        FBlock = ABuilder->Globals()->Uniforms()->AddNew<TKorvaneGLSLUBO>();
        FBlock->SetId("TestBehaviourData");
        FBlock->SetReferenceIDByObject(GetReferenceID());
        FBlock->AddDeclaration("_TestColor", stVec4);
        FOverride = ABuilder->EntryPoint()->AddNew<TColorOverrideNode>();
    }
    void DoOnUpdateShader(TKorvaneNodeBuilder*, TContextShaderKind) override { ++Updates; }
    void DoOnRemoveShader(TKorvaneNodeBuilder* ABuilder, TContextShaderKind AKind) override
    {
        Log(Stage("remove", AKind));
        if (AKind != TContextShaderKind::PixelShader) return;
        if (FBlock) ABuilder->Globals()->Uniforms()->Remove(FBlock);
        if (FOverride) ABuilder->EntryPoint()->Remove(FOverride);
        FBlock = nullptr;
        FOverride = nullptr;
    }
    void Apply(TMaterial*, TContext3D*, TKorvaneMaterialBehaviourItem* AItem) override
    {
        Log("apply");
        if (AItem->UBO()) std::memcpy(AItem->UBO(), &Color, sizeof(Color));
    }

    int Updates = 0;

private:
    void Log(const std::string& AWhat) { FLog.push_back(FTag + " " + AWhat); }
    static std::string Stage(const char* AHook, TContextShaderKind AKind)
    {
        return std::string(AHook) + (AKind == TContextShaderKind::VertexShader ? " vertex" : " fragment");
    }

    std::vector<std::string>& FLog;
    std::string FTag;
    bool FHasBlock;
    TKorvaneGLSLUBO* FBlock = nullptr;
    TColorOverrideNode* FOverride = nullptr;
};

// Implements none of the abstract operations.
class TEmptyBehaviour : public TKorvaneMaterialBehaviour {
public:
    TEmptyBehaviour() : TKorvaneMaterialBehaviour(nullptr) {}
};

using Strings = std::vector<std::string>;

class MaterialBehaviours : public TMaterialDrawFixture {
protected:
    Owned<TTestBehaviour> NewBehaviour(const std::string& ATag, bool AHasBlock = true)
    {
        return Owned<TTestBehaviour>(new TTestBehaviour(Log, ATag, AHasBlock));
    }
    Strings Log;
};

} // namespace

TEST_F(MaterialBehaviours, AttachingReplacingAndDetachingRunTheHooksInOrder)
{
    auto m = NewMaterial();
    auto a = NewBehaviour("A");
    auto b = NewBehaviour("B");
    TKorvaneMaterialBehaviourItem* item = m->Behaviours()->Add();

    item->SetBehaviour(a.get());
    EXPECT_EQ(Log, (Strings{"A create vertex", "A create fragment", "A attached"}));
    EXPECT_EQ(item->Behaviour(), a.get());
    EXPECT_TRUE(m->ShaderProgramOutdated());
    std::string text(m->FragmentShaderSource().Code.begin(), m->FragmentShaderSource().Code.end());
    EXPECT_NE(text.find("uniform TestBehaviourData{"), std::string::npos) << "the sources were regenerated";
    EXPECT_GT(a->Updates, 0) << "the item passes every rebuild on";

    Log.clear();
    m->Apply(FContext.get());
    EXPECT_FALSE(m->ShaderProgramOutdated());
    Log.clear();
    item->SetBehaviour(b.get());
    EXPECT_EQ(Log, (Strings{"A remove vertex", "A remove fragment", "A detached", "B create vertex",
                            "B create fragment", "B attached"}));
    EXPECT_TRUE(m->ShaderProgramOutdated()) << "rebuilt before the next draw";

    Log.clear();
    item->SetBehaviour(b.get());
    EXPECT_EQ(Log, (Strings{"B create vertex", "B create fragment", "B attached"})) << "the same one again";

    Log.clear();
    item->SetBehaviour(nullptr);
    EXPECT_EQ(Log, (Strings{"B remove vertex", "B remove fragment", "B detached"}));
    EXPECT_EQ(item->Behaviour(), nullptr);
}

TEST_F(MaterialBehaviours, AnItemWithoutADefaultMaterialTakesNoBehaviour)
{
    auto a = NewBehaviour("A");
    TKorvaneMaterialBehaviourCollection loose;
    loose.Add()->SetBehaviour(a.get());
    EXPECT_EQ(loose.Items(0)->Behaviour(), nullptr);
    EXPECT_TRUE(Log.empty());

    TMaterial plain;
    TKorvaneMaterialBehaviourCollection other(&plain);
    EXPECT_NE(MessageOf<EInvalidCast>([&] { other.Add()->SetBehaviour(a.get()); }), "(no exception)");

    auto m = NewMaterial();
    TEmptyBehaviour empty;
    EXPECT_EQ(MessageOf<EAbstractError>([&] { m->Behaviours()->Add()->SetBehaviour(&empty); }),
              "Abstract Error: TKorvaneMaterialBehaviour.DoOnCreateShader");
}

TEST_F(MaterialBehaviours, AFreedBehaviourLeavesItsItem)
{
    auto m = NewMaterial();
    auto a = NewBehaviour("A");
    TKorvaneMaterialBehaviourItem* item = m->Behaviours()->Add();
    item->SetBehaviour(a.get());
    a.reset();
    EXPECT_EQ(item->Behaviour(), nullptr);
    Log.clear();
    item->Apply(m.get(), FContext.get());
    DrawQuad(m.get());
    EXPECT_TRUE(Log.empty()) << "an item without behaviour does nothing";
}

TEST_F(MaterialBehaviours, TheBehavioursBlockIsRegisteredAfterShaderDataAndReachesThePixels)
{
    auto m = NewMaterial();
    auto a = NewBehaviour("A");
    m->Behaviours()->Add()->SetBehaviour(a.get());
    Log.clear();

    DrawQuad(m.get());
    EXPECT_TRUE(NearColor(Pixel(16, 16), {0, 255, 0, 255}))
        << int(Pixel(16, 16)[0]) << " " << int(Pixel(16, 16)[1]) << " " << int(Pixel(16, 16)[2]);
    EXPECT_TRUE(NearColor(Pixel(2, 2), {0, 0, 255, 255}));
    TShaderProgram* program = TKorvaneContext::GetCurrentProgram();
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program->IndexOfUniformBuffer("ShaderData"), 0);
    EXPECT_EQ(program->IndexOfUniformBuffer("TestBehaviourData"), 1);
    const TKorvaneMaterialBehaviourItem* item = m->Behaviours()->Items(0);
    ASSERT_NE(item->UBO(), nullptr);
    EXPECT_EQ(item->UBOSize(), 16);

    // The data goes up at every draw; the block is asked for only with a new program.
    a->Color = TAlphaColorF(1, 1, 0, 1);
    DrawQuad(m.get());
    EXPECT_TRUE(NearColor(Pixel(16, 16), {255, 255, 0, 255}));
    EXPECT_EQ(Log, (Strings{"A register", "A initialize", "A apply", "A apply"}));
    EXPECT_TRUE(a->Initialized());
}

TEST_F(MaterialBehaviours, ABehaviourWithoutABlockLeavesTheItemsBlock)
{
    auto m = NewMaterial();
    auto a = NewBehaviour("A", false);
    TKorvaneMaterialBehaviourItem* item = m->Behaviours()->Add();
    item->SetBehaviour(a.get());
    auto block = std::make_unique<uint8_t[]>(8);
    uint8_t* kept = block.get();
    item->SetUBO(std::move(block), 8);
    item->OnRegisterUniformBuffer(m.get(), FContext.get(), nullptr);
    EXPECT_EQ(item->UBO(), kept);
    EXPECT_EQ(item->UBOSize(), 8);

    // A copy takes the name and the behaviour, not the block.
    item->SetDisplayName("source_A");
    TKorvaneMaterialBehaviourItem* copy = m->Behaviours()->Add();
    copy->Assign(item);
    EXPECT_EQ(copy->DisplayName(), "source_A");
    EXPECT_EQ(copy->Behaviour(), a.get());
    EXPECT_EQ(copy->UBO(), nullptr);
}

TEST(MaterialBehaviour, ANewBehaviourHasItsOwnGUID)
{
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        TEmptyBehaviour b;
        const std::string& id = b.UniqueID();
        ASSERT_EQ(id.size(), 38u) << id;
        EXPECT_EQ(id.front(), '{');
        EXPECT_EQ(id.back(), '}');
        for (size_t p : {9u, 14u, 19u, 24u}) EXPECT_EQ(id[p], '-') << id;
        EXPECT_EQ(id.find_first_not_of("0123456789ABCDEFabcdef-", 1), 37u) << id;
        EXPECT_TRUE(seen.insert(id).second) << "repeated " << id;
        EXPECT_FALSE(b.Initialized());
    }
}

TEST(MaterialBehaviour, TheIdentityGoesIntoAndComesFromABehaviourDefinition)
{
    TEmptyBehaviour stored, loaded;
    EXPECT_EQ(stored.Def(), nullptr);
    TMaterialBehaviourDef def;
    ASSERT_NE(def.Id(), stored.UniqueID());
    stored.StoreToDefinition(&def);
    EXPECT_EQ(def.Id(), stored.UniqueID());
    loaded.LoadFromDefinition(&def);
    EXPECT_EQ(loaded.UniqueID(), stored.UniqueID());

    // Any other definition, even the plain behaviour definition, is refused untouched.
    TBehaviourDef plain;
    const std::string before = plain.Id();
    EXPECT_THROW(stored.StoreToDefinition(&plain), EInvalidCast);
    EXPECT_EQ(plain.Id(), before);
    EXPECT_THROW(loaded.LoadFromDefinition(&plain), EInvalidCast);
    EXPECT_THROW(loaded.LoadFromDefinition(nullptr), EInvalidCast);
    EXPECT_EQ(loaded.UniqueID(), stored.UniqueID());
}
