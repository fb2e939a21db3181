#include <gtest/gtest.h>

#include "Korvane.AssetsManager.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::MessageOf;

namespace {

std::unique_ptr<TJSONObject> Obj(std::string_view text) { return TJSONObject::ParseJSONObject(text); }

const char* const Guid = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";

} // namespace

TEST(AssetsManager, URLEncoding)
{
    struct Case {
        const char* Plain;
        const char* Encoded;
    };
    const Case cases[] = {
        {"C:\\my model.kvr", "C%3A%5Cmy+model.kvr"},
        {"a-z_A.Z~0@!$'()*", "a-z_A.Z%7E0@!$'()*"},
        {"wood+1/ü.png", "wood%2B1%2F%C3%BC.png"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(URLEncode(c.Plain), c.Encoded);
        EXPECT_EQ(URLDecode(c.Encoded), c.Plain);
    }
    EXPECT_EQ(URLDecode("%41%3a"), "A:") << "either letter case of hexadecimal digits";
    for (const char* bad : {"%", "%4", "%G1", "ab%4"})
        EXPECT_THROW(URLDecode(bad), EConvertError) << bad;
}

TEST(AssetsManager, TextureAssetJSONAndImports)
{
    TKorvaneTextureAsset asset(nullptr);
    EXPECT_EQ(MessageOf<EKorvaneAssetsException>([&] { asset.ImportFromStream(""); }),
              "AssetsManager.TextureAsset - filename empty");
    EXPECT_EQ(MessageOf<EKorvaneAssetsException>([&] { asset.ImportFromCachedBitmap("", nullptr); }),
              "AssetsManager.TextureAsset - filename empty");
    asset.SetId(StringToGUID(Guid));
    asset.ImportFromStream("C:\\tex\\wood 1.png");
    EXPECT_EQ(asset.OriginalFilename(), "C:\\tex\\wood 1.png");
    EXPECT_EQ(asset.Filename(), "wood 1.png");
    EXPECT_EQ(asset.Extension(), ".png") << "an asset without group takes the extension";
    EXPECT_FALSE(asset.Cached());
    EXPECT_TRUE(asset.GetBitmap()->IsEmpty()) << "no such file: the picture stays empty";
    EXPECT_EQ(asset.ToJSON()->ToJSON(),
              std::string(R"({"Type":"Korvane.AssetsManager.TKorvaneTextureAsset","Id":")") + Guid +
                  R"(","Version":"1.3","Filename":"wood+1.png","Extension":".png",)"
                  R"("OriginalFilename":"C%3A%5Ctex%5Cwood+1.png"})");

    TKorvaneTextureAsset read(nullptr);
    read.FromJSON(*asset.ToJSON());
    EXPECT_EQ(read.ToJSON()->ToJSON(), asset.ToJSON()->ToJSON());
    EXPECT_EQ(MessageOf([&] { read.FromJSON(*Obj(R"({"Filename": "x"})")); }), "failed to load asset - id not set");
    EXPECT_THROW(read.FromJSON(*Obj(R"({"Id": "not a guid"})")), EConvertError);

    // A cached bitmap is kept itself (not copied), and the asset frees it.
    TKorvaneTextureAsset cached(nullptr);
    auto bitmap = MakeOwned<TBitmap>(3, 2);
    TBitmap* kept = bitmap.get();
    cached.ImportFromCachedBitmap("/pics/stone.jpg", std::move(bitmap));
    EXPECT_EQ(cached.GetBitmap(), kept);
    EXPECT_TRUE(cached.Cached());
    EXPECT_TRUE(cached.IsStandalone());
    EXPECT_EQ(cached.Extension(), ".jpg");
    EXPECT_EQ(cached.Filename(), "stone.jpg");

    // A stream's picture becomes the cached bitmap with the cache flag only.
    TBitmap picture(5, 4);
    picture.Clear(0xFF102030);
    const std::vector<uint8_t> png = picture.SaveToPNGMemory();
    TMemoryStream stream;
    stream.WriteBuffer(png.data(), int64_t(png.size()));
    stream.SetPosition(0);
    TKorvaneTextureAsset streamed(nullptr);
    streamed.ImportFromStream("a.png", &stream);
    EXPECT_FALSE(streamed.Cached());
    streamed.ImportFromStream("a.png", &stream, aifCacheBitmap);
    EXPECT_TRUE(streamed.Cached());
    EXPECT_EQ(streamed.GetBitmap()->Width(), 5);
    TMemoryStream junk;
    junk.WriteBuffer("junk", 4);
    junk.SetPosition(0);
    EXPECT_THROW(streamed.ImportFromStream("b.png", &junk, aifCacheBitmap), EReadError);
}

TEST(AssetsManager, PackagesGroupsAndLookups)
{
    TKorvaneAssetsPackage package;
    std::vector<std::string> events;
    package.OnBeforeModify = [&](TKorvaneAssetsPackage* p) { events.push_back(p == &package ? "before" : "?"); };
    package.OnAfterModify = [&](TKorvaneAssetsPackage*) { events.push_back("after"); };
    TKorvaneAssetsGroup* models = package.AddGroup(nullptr);
    TKorvaneAssetsGroup* textures = package.AddGroup(TKorvaneTextureAsset::CreateInGroup);
    EXPECT_EQ(package.GetGroup(-1), nullptr);
    EXPECT_EQ(package.GetGroup(2), nullptr);
    EXPECT_EQ(package.GetGroup(1), textures);

    const TGUID id = StringToGUID(Guid);
    EXPECT_EQ(models->AddEmptyAsset(id), nullptr) << "no asset class";
    EXPECT_TRUE(events.empty());
    TKorvaneAsset* added = textures->AddEmptyAsset(id);
    ASSERT_NE(dynamic_cast<TKorvaneTextureAsset*>(added), nullptr);
    EXPECT_EQ(added->Id(), id);
    EXPECT_EQ(added->Package(), &package);
    EXPECT_EQ(events, (std::vector<std::string>{"before", "after"}));
    EXPECT_EQ(package.GetOwnerAssetFromId(nullptr, 1, id), added);
    EXPECT_EQ(package.GetOwnerAssetFromId(nullptr, 1, TGUID()), nullptr);
    EXPECT_EQ(package.GetOwnerAssetFromId(nullptr, 5, id), nullptr);

    // An owner asset's sub-groups; a missing one is an error.
    TKorvaneAsset owner(models);
    owner.SetId(id);
    EXPECT_EQ(owner.GetSubGroup(0), nullptr);
    EXPECT_EQ(MessageOf<EKorvaneAssetsException>([&] { package.GetOwnerAssetFromId(&owner, 1, id); }),
              std::string("invalid group name \"1\" for asset \"") + Guid + "\"");
    owner.AddSubGroup(nullptr);
    TKorvaneAssetsGroup* ownTextures = owner.AddSubGroup(TKorvaneTextureAsset::CreateInGroup);
    EXPECT_EQ(package.GetOwnerAssetFromId(&owner, 1, id), nullptr) << "not in the package's own group";
    TKorvaneAsset* own = ownTextures->AddEmptyAsset(id);
    EXPECT_EQ(package.GetOwnerAssetFromId(&owner, 1, id), own);
    EXPECT_EQ(events.size(), 4u) << "a sub-group's changes are the package's";
}
