#include <gtest/gtest.h>

#include "Korvane.DefTypes.Texture.h"
#include "ModelStandIn.h"
#include "TestHelpers.h"

using namespace korvane;
using korvane::test::MessageOf;
using korvane::test::TTestModel;

namespace {

std::unique_ptr<TJSONObject> Obj(std::string_view text) { return TJSONObject::ParseJSONObject(text); }

const char* const AssetId = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";

std::string AssetJSON(const std::string& type, const std::string& filename)
{
    return R"({"Type": ")" + type + R"(", "Id": ")" + AssetId + R"(", "Version": "1.3", "Filename": ")" + filename +
           R"(", "Extension": ".png", "OriginalFilename": ")" + filename + R"("})";
}

// A 2 x 2 picture: red top left, green top right, blue bottom left, white bottom right.
test::Owned<TBitmap> Quad()
{
    test::Owned<TBitmap> bitmap(new TBitmap(2, 2));
    TBitmapData data;
    EXPECT_TRUE(bitmap->Map(TMapAccess::Write, data));
    data.SetPixel(0, 0, 0xFFFF0000);
    data.SetPixel(1, 0, 0xFF00FF00);
    data.SetPixel(0, 1, 0xFF0000FF);
    data.SetPixel(1, 1, 0xFFFFFFFF);
    bitmap->Unmap(data);
    return bitmap;
}

TAlphaColor PixelAtTopLeft(TBitmap& bitmap)
{
    TBitmapData data;
    EXPECT_TRUE(bitmap.Map(TMapAccess::Read, data));
    const TAlphaColor c = data.GetPixel(0, 0);
    bitmap.Unmap(data);
    return c;
}

class TextureModel : public test::ModelFixture {};

} // namespace

TEST(TextureDef, NewTextureJSON)
{
    TTextureDef texture(nullptr, TColorChannelDef::Normal, nullptr, false);
    EXPECT_EQ(texture.ToJSON()->ToJSON(),
              R"({"Type":"Korvane.DefTypes.TTextureDef","Id":"","Channel":4,"Flipping":"Vertical",)"
              R"("Tiling":"1.0000000 1.0000000","IsDynamic":false,"IgnoreInArray":false,"Destination":"PixelShader",)"
              R"("Sampler":{"Type":"Korvane.DefTypes.TSamplerDef","Id":"","Kind":"Texture2D","InternalFormat":59,)"
              R"("Format":4,"DataType":1,"BorderColor":"0.0000 0.0000 0.0000 0.0000","MinFilter":"Linear",)"
              R"("MagFilter":"Linear","WrapS":"ClampToEdge","WrapT":"ClampToEdge","WrapR":"ClampToEdge"},"Asset":null})");
    EXPECT_EQ(texture.GetSize(), int64_t(sizeof(TTextureDef))) << "the sampler is not counted";
    texture.AddExtension("Maps");
    EXPECT_GT(texture.GetSize(), int64_t(sizeof(TTextureDef) + sizeof(TExtensionDef)));
}

TEST(TextureDef, ReadingTextureAndSamplerKeys)
{
    TTextureDef texture(nullptr, TColorChannelDef::Normal, nullptr, false);
    texture.Sampler().InternalFormat = TPixelFormatEx::R32F;
    texture.FromJSON(nullptr, *Obj(R"({"WrapS": "repeat", "WrapT": "mirrored_repeat", "Tiling": "2 3",
        "Destination": "VERTEXSHADER", "Sampler": {"Kind": "CUBEMAP", "WrapS": "ClampToEdge", "MinFilter": "NEAREST"}})"));
    EXPECT_EQ(texture.Channel(), TColorChannelDef::Diffuse) << "a missing channel reads as Diffuse";
    EXPECT_TRUE(texture.Flipping().IsEmpty()) << "a missing flipping reads as none";
    EXPECT_EQ(texture.WrapS(), TKorvaneTextureWrap::ClampToEdge) << "the sampler, read later, wins";
    EXPECT_EQ(texture.WrapT(), TKorvaneTextureWrap::MirroredRepeat) << "the older key where the sampler says nothing";
    EXPECT_EQ(texture.Tiling, TPointF(2, 3));
    EXPECT_EQ(texture.Destination, TContextShaderKind::VertexShader);
    EXPECT_EQ(texture.Sampler().TextureKind, TKorvaneTextureKind::CubeMap);
    EXPECT_EQ(texture.Sampler().InternalFormat, TPixelFormatEx::RGBA8) << "the default, not the current value";
    EXPECT_EQ(texture.Sampler().MinFilter, TTextureFilter::Nearest);
    EXPECT_EQ(texture.Sampler().MagFilter, TTextureFilter::Linear);

    struct Case {
        const char* Json;
        TKorvaneTextureKind Kind;
        TKorvaneTextureWrap WrapR;
    };
    const Case cases[] = {
        {R"({"Kind": "cube"})", TKorvaneTextureKind::Texture2D, TKorvaneTextureWrap::Repeated},
        {R"({"Kind": "array2d", "WrapR": "MIRROREDREPEAT"})", TKorvaneTextureKind::Array2D,
         TKorvaneTextureWrap::MirroredRepeat},
        {R"({"Kind": "ImageTexture3D", "WrapR": "ClampToBorder"})", TKorvaneTextureKind::ImageTexture3D,
         TKorvaneTextureWrap::ClampToBorder},
        {R"({"WrapR": "repeat"})", TKorvaneTextureKind::Texture2D, TKorvaneTextureWrap::ClampToEdge},
    };
    for (const Case& c : cases) {
        TSamplerDef sampler;
        sampler.WrapR = TKorvaneTextureWrap::Repeated;
        sampler.FromJSON(nullptr, *Obj(c.Json));
        EXPECT_EQ(sampler.TextureKind, c.Kind) << c.Json;
        EXPECT_EQ(sampler.WrapR, c.WrapR) << c.Json;
        TSamplerDef back;
        back.FromJSON(nullptr, *sampler.ToJSON());
        EXPECT_EQ(back.ToJSON()->ToJSON(), sampler.ToJSON()->ToJSON()) << c.Json;
    }
    TSamplerDef sampler;
    EXPECT_EQ(MessageOf([&] { sampler.FromJSON(nullptr, *Obj(R"({"InternalFormat": 80})")); }),
              "invalid value for \"InternalFormat\": 80");
}

TEST(TextureDef, AssetTypeAndStandaloneReading)
{
    test::Owned<TMaterialDef> material(new TMaterialDef());
    struct Case {
        std::string Json;
        const char* Message;
    };
    const Case cases[] = {
        {R"({"Asset": {"Id": "x"}})", "failed to load asset - type not set"},
        {R"({"Asset": )" + AssetJSON("TKorvaneModelAsset", "a.png") + "}",
         "TextureDef contains a not compatible asset: TKorvaneModelAsset"},
        {R"({"Asset": {"Type": "TKorvaneTextureAsset"}})", "failed to load asset - id not set"},
        {R"({"Asset": )" + AssetJSON("TKorvaneTextureAsset", "") + "}", "AssetsManager.TextureAsset - filename empty"},
        {R"({"Asset": )" + AssetJSON("TKorvaneTextureAsset", "%zz") + "}",
         "Invalid URL encoded character (%zz) at position 0"},
    };
    for (const Case& c : cases) {
        TTextureDef texture(material.get(), TColorChannelDef::Diffuse, nullptr, false);
        EXPECT_EQ(MessageOf([&] { texture.FromJSON(nullptr, *Obj(c.Json)); }), c.Message) << c.Json;
        EXPECT_EQ(texture.AssetRef(), nullptr);
    }
    TTextureDef orphan(nullptr, TColorChannelDef::Diffuse, nullptr, false);
    EXPECT_EQ(MessageOf([&] { orphan.FromJSON(nullptr, *Obj(R"({"Asset": )" + AssetJSON("TKorvaneTextureAsset", "a.png") + "}")); }),
              "failed to get package - material of TTextureDef not assigned");

    // Without a model the texture keeps the stand-alone asset it read (ASan checks it is freed once).
    for (const char* type : {"TKorvaneTextureAsset", "Korvane.AssetsManager.TKorvaneTextureAsset"}) {
        TTextureDef texture(material.get(), TColorChannelDef::Diffuse, nullptr, false);
        texture.FromJSON(nullptr, *Obj(R"({"Asset": )" + AssetJSON(type, "tex%5Cwood+1.png") + "}"));
        ASSERT_NE(texture.AssetRef(), nullptr);
        EXPECT_TRUE(texture.IsAssetOwner());
        EXPECT_EQ(texture.AssetRef()->OriginalFilename(), "tex\\wood 1.png");
        EXPECT_EQ(texture.AssetRef()->Filename(), "wood 1.png");
        EXPECT_EQ(GUIDToString(texture.AssetRef()->Id()), AssetId);
        // The name recorded is the file-name part (the model's folder goes in
        // front, when there is a model); from then on the text stays the same.
        TTextureDef back(material.get(), TColorChannelDef::Diffuse, nullptr, false);
        back.FromJSON(nullptr, *texture.ToJSON());
        EXPECT_EQ(back.AssetRef()->OriginalFilename(), "wood 1.png");
        TTextureDef again(material.get(), TColorChannelDef::Diffuse, nullptr, false);
        again.FromJSON(nullptr, *back.ToJSON());
        EXPECT_EQ(again.ToJSON()->ToJSON(), back.ToJSON()->ToJSON());
    }
}

TEST(TextureDef, BitmapInstancesFlipTheSharedBitmapOnce)
{
    test::TempFolder folder;
    const std::string file = folder.Path("quad.png");
    Quad()->SaveToFile(file);

    TKorvaneTextureAsset asset(nullptr);
    TTextureDef texture(nullptr, TColorChannelDef::Diffuse, &asset, false);
    EXPECT_EQ(MessageOf([&] { texture.GetAssetBitmapInstance(false); }),
              "failed to request bitmap instance of texture asset - texture was not loaded physically yet");
    asset.ImportFromFile(file);
    texture.Sampler().WrapS = TKorvaneTextureWrap::Repeated;

    struct Step {
        TTextureFlippings Flipping;
        TAlphaColor TopLeft;
    };
    const Step steps[] = {
        {{TTextureFlipping::Vertical}, 0xFF0000FF},                                // flipped once
        {{TTextureFlipping::Vertical}, 0xFF0000FF},                                // not again
        {{TTextureFlipping::Vertical, TTextureFlipping::Horizontal}, 0xFFFFFFFF}, // and mirrored
        {{}, 0xFFFF0000},                                                          // both flipped back
    };
    for (const Step& step : steps) {
        texture.SetFlipping(step.Flipping);
        TTextureBitmapInstance instance = texture.GetAssetBitmapInstance(false);
        ASSERT_TRUE(instance);
        EXPECT_FALSE(instance.IsOwned());
        EXPECT_EQ(instance.Bitmap(), asset.GetBitmap()) << "the asset's own bitmap, lent";
        EXPECT_EQ(PixelAtTopLeft(*instance.Bitmap()), step.TopLeft);
        EXPECT_EQ(texture.FlipState(), step.Flipping);
        EXPECT_THROW(instance.Release(), EInvalidOperation);
    }
    auto* shared = dynamic_cast<TKorvaneTextureBitmap*>(asset.GetBitmap());
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->WrapS, TKorvaneTextureWrap::Repeated);

    // A clone is the caller's and leaves the shared bitmap and the flip state alone.
    texture.SetFlipping({TTextureFlipping::Vertical});
    TTextureBitmapInstance clone = texture.GetAssetBitmapInstance(true);
    EXPECT_TRUE(clone.IsOwned());
    EXPECT_NE(clone.Bitmap(), asset.GetBitmap());
    EXPECT_EQ(PixelAtTopLeft(*clone.Bitmap()), 0xFFFF0000u);
    EXPECT_TRUE(texture.FlipState().IsEmpty());
    TOwned<TBitmap> taken = clone.Release();
    EXPECT_FALSE(clone);

    // A cached stand-alone asset hands out a new bitmap each time.
    TKorvaneTextureAsset cached(nullptr);
    cached.ImportFromCachedBitmap("C:\\pics\\quad.png", Quad());
    TTextureDef cachedTexture(nullptr, TColorChannelDef::Diffuse, &cached, false);
    TTextureBitmapInstance a = cachedTexture.GetAssetBitmapInstance(false);
    TTextureBitmapInstance b = cachedTexture.GetAssetBitmapInstance(false);
    EXPECT_TRUE(a.IsOwned() && b.IsOwned());
    EXPECT_NE(a.Bitmap(), b.Bitmap());
    EXPECT_EQ(PixelAtTopLeft(*cached.GetBitmap()), 0xFFFF0000u) << "the cached picture is not flipped";
    EXPECT_FALSE(TTextureDef(nullptr, TColorChannelDef::Diffuse, nullptr, false).GetAssetBitmapInstance(false));
}

TEST_F(TextureModel, AssetsFromTheModelPackageOrBesideTheModelFile)
{
    test::TempFolder folder;
    Quad()->SaveToFile(folder.Path("wood.png"));

    // With a package: the model asset's texture sub-group is searched, and a
    // missing asset is added there and imports the file beside the model.
    TKorvaneAssetsPackage package;
    package.AddGroup(nullptr);
    package.AddGroup(TKorvaneTextureAsset::CreateInGroup);
    ASSERT_NE(package.GetGroup(1), nullptr);
    EXPECT_EQ(package.GetGroup(2), nullptr);
    TKorvaneAsset owner(nullptr);
    owner.AddSubGroup(nullptr);
    TKorvaneAssetsGroup* textures = owner.AddSubGroup(TKorvaneTextureAsset::CreateInGroup);
    {
        auto model = MakeOwned<TTestModel>();
        model->Package = &package;
        model->Asset = &owner;
        model->Filename = folder.Path("chair.kvr");
        auto* material = new TMaterialDef(model->AsModelDef(), "M");
        const std::string textureJSON = R"({"Textures": [{"Asset": )" + AssetJSON("TKorvaneTextureAsset", "wood.png") + "}]}";
        material->FromJSON(model->AsModelDef(), *Obj(textureJSON));
        ASSERT_EQ(textures->Count(), 1);
        auto* asset = dynamic_cast<TKorvaneTextureAsset*>(textures->Items(0));
        ASSERT_NE(asset, nullptr);
        EXPECT_EQ(material->GetTexture(TColorChannelDef::Diffuse)->AssetRef(), asset);
        EXPECT_FALSE(asset->IsStandalone());
        EXPECT_EQ(asset->OriginalFilename(), folder.Path("wood.png"));
        EXPECT_EQ(asset->GetBitmap()->Width(), 2) << "the file beside the model was imported";
        EXPECT_EQ(model->TextureAssets, std::vector<TKorvaneTextureAsset*>{asset});

        // A second texture of the same id finds the asset.
        auto* second = new TMaterialDef(model->AsModelDef(), "N");
        second->FromJSON(model->AsModelDef(), *Obj(textureJSON));
        EXPECT_EQ(second->GetTexture(TColorChannelDef::Diffuse)->AssetRef(), asset);
        EXPECT_EQ(textures->Count(), 1);

        // An owner asset without a texture sub-group makes the lookup fail.
        TKorvaneAsset bare(nullptr);
        model->Asset = &bare;
        auto* third = new TMaterialDef(model->AsModelDef(), "O");
        EXPECT_EQ(MessageOf([&] { third->FromJSON(model->AsModelDef(), *Obj(textureJSON)); }),
                  std::string("invalid group name \"1\" for asset \"") + AssetId + "\"");
        model->Asset = &owner;
    }

    // Without a package: a stand-alone asset that the model registers and frees;
    // a texture of an equal asset shares the model's.
    auto model = MakeOwned<TTestModel>();
    model->Filename = folder.Path("chair.kvr");
    auto* material = new TMaterialDef(model->AsModelDef(), "M");
    material->FromJSON(model->AsModelDef(),
                       *Obj(R"({"Textures": [{"Asset": )" + AssetJSON("TKorvaneTextureAsset", "wood.png") + "}, " +
                            R"({"Channel": 4, "Asset": )" + AssetJSON("TKorvaneTextureAsset", "wood.png") + "}]}"));
    TTextureDef* diffuse = material->GetTexture(TColorChannelDef::Diffuse);
    TTextureDef* normal = material->GetTexture(TColorChannelDef::Normal);
    ASSERT_TRUE(diffuse && normal);
    EXPECT_TRUE(diffuse->IsAssetOwner());
    EXPECT_TRUE(diffuse->AssetRef()->IsStandalone());
    EXPECT_EQ(diffuse->AssetRef()->OriginalFilename(), folder.Path("wood.png")) << "beside the model file";
    EXPECT_FALSE(normal->IsAssetOwner());
    EXPECT_EQ(normal->AssetRef(), diffuse->AssetRef());
    EXPECT_EQ(model->TextureAssets.size(), 1u);
}

TEST_F(TextureModel, AnAdoptedAssetBelongsToTheModelOrElseToItsTexture)
{
    auto makeAsset = [] {
        auto asset = MakeOwned<TKorvaneTextureAsset>(nullptr);
        asset->ImportFromCachedBitmap("Detail", Quad());
        return asset;
    };
    // Without a model the texture frees the asset with itself (the leak check
    // sees a miss, the address checker a second free).
    {
        TMaterialDef material;
        TKorvaneTextureAsset* asset = makeAsset().release();
        TTextureDef* texture = material.AddTexture(TColorChannelDef::UserSpecific, TOwned<TKorvaneTextureAsset>(asset));
        EXPECT_EQ(texture->AssetRef(), asset);
        EXPECT_TRUE(texture->IsAssetOwner());
        EXPECT_TRUE(asset->IsStandalone());
        TTextureBitmapInstance picture = texture->GetAssetBitmapInstance(false);
        ASSERT_TRUE(picture);
        EXPECT_EQ(PixelAtTopLeft(*picture.Bitmap()), 0xFFFF0000u);
    }
    // With a model that registers assets, its list takes the asset over and
    // outlives the texture.
    auto model = MakeOwned<TTestModel>();
    auto* material = new TMaterialDef(model->AsModelDef(), "M");
    TKorvaneTextureAsset* asset = makeAsset().release();
    material->AddTexture(TColorChannelDef::UserSpecific, TOwned<TKorvaneTextureAsset>(asset));
    ASSERT_EQ(model->TextureAssets.size(), 1u);
    EXPECT_EQ(model->TextureAssets[0], asset);
    material->ClearTextures();
    EXPECT_EQ(PixelAtTopLeft(*asset->GetBitmap()), 0xFFFF0000u) << "the asset lives on with the model";
}
