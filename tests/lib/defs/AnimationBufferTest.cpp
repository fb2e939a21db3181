#include <gtest/gtest.h>

#include "Korvane.Context.Buffers.h"
#include "Korvane.DefTypes.Animation.h"
#include "LogCapture.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::MessageOf;

namespace {

using State = TAnimationBufferingState;
constexpr TAnimationCachingFlags PackedPositions{TAnimationCachingFlag::Compressed,
                                                 TAnimationCachingFlag::VertexPosition};

// Bakes every frame of every buffered mesh and records the animation's state
// after each step, as the caching object of the model does.
class TRecordingCaching : public TAnimationCaching {
public:
    TRecordingCaching(TMeshDef* ARoot, std::vector<TMeshDef*> AMeshes) : FRoot(ARoot), FMeshes(std::move(AMeshes)) {}

    TAnimationCachingFlags Flags() const override { return PackedPositions; }
    void Execute(TAnimationDef* AAnimDef) override
    {
        AAnimDef->PrepareAnimationData();
        AAnimDef->InitializeCaching(FRoot);
        States.push_back(AAnimDef->BufferingState());
        TVertexBuffer vertices(TVertexFormats{TVertexFormat::Vertex}, 3);
        TIndexBuffer indices(3, TIndexFormat::UInt16);
        for (int frame = 0; frame < AAnimDef->FrameCount(); ++frame)
            for (TMeshDef* mesh : FMeshes)
                if (TAnimationBuffer* buffer = AAnimDef->StartCaching(mesh)) {
                    vertices.SetVertices(0, TPoint3D(float(frame), 0, 0));
                    AAnimDef->CacheFrame(buffer, &vertices, &indices, Flags());
                    States.push_back(AAnimDef->BufferingState());
                    if (AAnimDef->BufferingState() == State::Cached) AAnimDef->StopCaching(buffer);
                }
        AAnimDef->FinalizeCaching();
        States.push_back(AAnimDef->BufferingState());
    }

    std::vector<State> States;

private:
    TMeshDef* FRoot;
    std::vector<TMeshDef*> FMeshes;
};

// A mesh root with a mesh child that holds a mesh and a plain node holding a mesh.
class AnimationBuffers : public ::testing::Test {
protected:
    void SetUp() override
    {
        Root = MakeOwned<TMeshDef>(nullptr);
        Child = new TMeshDef(Root.get());
        Root->AddChild(Child);
        Grandchild = new TMeshDef(Child);
        Child->AddChild(Grandchild);
        auto* node = new TTransformDef(Root.get());
        Root->AddChild(node);
        Hidden = new TMeshDef(node);
        node->AddChild(Hidden);

        auto* stage = new TAnimationStageDef(&Animation);
        auto* track = new TPoint3DInterpolatorDef(stage);
        track->SetDuration(0.5f);
        stage->AddInterpolator(track);
        Animation.AddStage(stage);
        Animation.SetFrameRate(6); // 3 frames
    }

    TOwned<TMeshDef> Root;
    TMeshDef* Child = nullptr;
    TMeshDef* Grandchild = nullptr;
    TMeshDef* Hidden = nullptr;
    TAnimationDef Animation{nullptr};
};

} // namespace

TEST_F(AnimationBuffers, BakingWalksTheStatesInOrder)
{
    TRecordingCaching caching(Root.get(), {Root.get(), Child, Grandchild, Hidden});
    EXPECT_FALSE(Animation.IsCached());
    Animation.Cache(&caching);
    EXPECT_EQ(Animation.CachingFlags(), PackedPositions);
    EXPECT_TRUE(Animation.IsCacheable());
    ASSERT_EQ(Animation.FrameCount(), 3);
    // Three meshes, each filling in turn: Caching until a buffer holds its
    // third frame, then Cached.
    const std::vector<State> expected = {State::Started, State::Caching, State::Caching, State::Caching,
                                         State::Caching, State::Caching, State::Caching,
                                         State::Cached,  State::Cached,  State::Cached,  State::Ready};
    EXPECT_EQ(caching.States, expected);
    ASSERT_NE(Animation.Buffers(), nullptr);
    EXPECT_EQ(Animation.Buffers()->size(), 3u) << "the root, its mesh child and that child's mesh";
    EXPECT_FALSE(Animation.Buffers()->count(Hidden)) << "a mesh under a plain node has no buffer";
    const TAnimationBuffer& child = *Animation.Buffers()->at(Child);
    EXPECT_TRUE(child.IsBuffered());
    EXPECT_EQ(child.BufferedFrames(), 3);
    EXPECT_TRUE(child.Frames()[2]->GetIsCompressed(TMeshBufferComponent::Vertex));

    EXPECT_THROW(Animation.Cache(Root.get()), EInvalidCast);
}

TEST_F(AnimationBuffers, NextFrameFallsBackToTheFirst)
{
    EXPECT_EQ(Animation.GetNextCacheFrame(Child, 0), nullptr) << "without buffers";
    Animation.PrepareAnimationData();
    Animation.InitializeCaching(Child);
    EXPECT_EQ(Animation.GetNextCacheFrame(Child, 0), nullptr) << "before FinalizeCaching";
    Animation.FinalizeCaching();
    const auto& frames = Animation.Buffers()->at(Child)->Frames();
    for (int frame : {-1, 3, 100}) EXPECT_EQ(Animation.GetNextCacheFrame(Child, frame), frames[0].get()) << frame;
    EXPECT_EQ(Animation.GetNextCacheFrame(Child, 2), frames[2].get());
    EXPECT_EQ(Animation.GetNextCacheFrame(Root.get(), 0), nullptr) << "a mesh without buffer";
    EXPECT_EQ(Animation.StartCaching(Child), nullptr) << "nothing to bake once ready";
}

TEST_F(AnimationBuffers, FullBufferStoresNothing)
{
    Animation.PrepareAnimationData();
    Animation.InitializeCaching(Grandchild);
    EXPECT_EQ(Animation.BufferingState(), State::Started);
    EXPECT_EQ(MessageOf<EListError>([&] { Animation.InitializeCaching(Grandchild); }), "Duplicates not allowed");
    TAnimationBuffer* buffer = Animation.StartCaching(Grandchild);
    ASSERT_NE(buffer, nullptr);
    TVertexBuffer vertices(TVertexFormats{TVertexFormat::Vertex}, 1);
    TIndexBuffer indices(0, TIndexFormat::UInt16);
    Animation.CacheFrame(buffer, &vertices, nullptr, PackedPositions);
    EXPECT_EQ(buffer->BufferedFrames(), 0) << "nothing without an index buffer";
    for (int i = 0; i < 3; ++i) Animation.CacheFrame(buffer, &vertices, &indices, PackedPositions);
    EXPECT_EQ(Animation.BufferingState(), State::Cached);
    Animation.CacheFrame(buffer, &vertices, &indices, PackedPositions);
    EXPECT_EQ(buffer->BufferedFrames(), 3);
    EXPECT_EQ(Animation.BufferingState(), State::Cached);

    // The same count keeps the frames; another one discards them.
    buffer->SetIsBuffered(true);
    buffer->SetFrameCount(3);
    EXPECT_EQ(buffer->BufferedFrames(), 3);
    Animation.SetFrameRate(12);
    EXPECT_EQ(buffer->Frames().size(), 6u);
    EXPECT_EQ(buffer->BufferedFrames(), 0);
    EXPECT_FALSE(buffer->IsBuffered());
    EXPECT_THROW(buffer->SetFrameCount(TAnimationBuffer::MaxFrameCount + 1), Exception);
}
