#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

#include "Platform.Bitmaps.h"
#include "Platform.IOUtils.h"
#include "Platform.Textures.h"
#include "TestHelpers.h"

using namespace korvane;
using namespace korvane::test;

namespace {
TAlphaColor PixelAt(TBitmap& ABitmap, int X, int Y)
{
    TBitmapData data;
    EXPECT_TRUE(ABitmap.Map(TMapAccess::Read, data));
    const TAlphaColor c = data.GetPixel(X, Y);
    ABitmap.Unmap(data);
    return c;
}
} // namespace

TEST(Bitmaps, MappedPixelsAreBGRARowsOfTheBitmapsWidth)
{
    TBitmap bitmap(3, 2);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::BGRA);
    TBitmapData data;
    ASSERT_TRUE(bitmap.Map(TMapAccess::Write, data));
    EXPECT_EQ(data.Pitch, 12);
    EXPECT_EQ(data.Width, 3);
    EXPECT_EQ(data.Height, 2);
    data.SetPixel(2, 1, MakeAlphaColor(0x10, 0x20, 0x30, 0x40));
    // Blue, green, red, alpha in memory.
    const uint8_t* p = data.GetScanline(1) + 2 * 4;
    EXPECT_EQ(p[0], 0x30);
    EXPECT_EQ(p[1], 0x20);
    EXPECT_EQ(p[2], 0x10);
    EXPECT_EQ(p[3], 0x40);
    EXPECT_THROW(data.SetPixel(3, 0, 0), EArgumentException);
    EXPECT_THROW(data.GetPixel(0, -1), EArgumentException);
    bitmap.Unmap(data);
    EXPECT_EQ(data.Data, nullptr);
    EXPECT_EQ(PixelAt(bitmap, 2, 1), MakeAlphaColor(0x10, 0x20, 0x30, 0x40));
    EXPECT_EQ(PixelAt(bitmap, 0, 0), 0u); // new images are transparent

    TBitmap empty;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_FALSE(empty.Map(TMapAccess::Read, data));
}

TEST(Bitmaps, SizesAreBounded)
{
    TBitmap bitmap(4, 4);
    bitmap.Clear(TAlphaColors::Red);
    for (auto size : {std::pair{-1, 4}, std::pair{4, MaxBitmapSide + 1}, std::pair{MaxBitmapSide, MaxBitmapSide}}) {
        EXPECT_EQ(MessageOf<EInvalidOperation>([&] { bitmap.SetSize(size.first, size.second); }), "Bitmap size too big.")
            << size.first << " x " << size.second;
    }
    // A refused size leaves the bitmap as it was.
    EXPECT_EQ(bitmap.Width(), 4);
    EXPECT_EQ(PixelAt(bitmap, 3, 3), TAlphaColors::Red);
    bitmap.SetSize(0, 7);
    EXPECT_TRUE(bitmap.IsEmpty());
}

TEST(Bitmaps, AssignSharesTheImageUntilOneWrites)
{
    TBitmap a(2, 2), b;
    a.Clear(TAlphaColors::Blue);
    a.SetBitmapScale(2.0f);
    b.Assign(&a);
    EXPECT_TRUE(b.SharesImageWith(a));
    EXPECT_EQ(b.Width(), 2);
    EXPECT_FLOAT_EQ(b.BitmapScale(), 2.0f);

    // Reading keeps the sharing; writing gives the writer its own image.
    EXPECT_EQ(PixelAt(b, 1, 1), TAlphaColors::Blue);
    EXPECT_TRUE(b.SharesImageWith(a));
    b.Clear(TAlphaColors::Lime);
    EXPECT_FALSE(b.SharesImageWith(a));
    EXPECT_EQ(PixelAt(a, 1, 1), TAlphaColors::Blue);
    EXPECT_EQ(PixelAt(b, 1, 1), TAlphaColors::Lime);

    // Nil empties; other classes are refused with the conversion error.
    b.Assign(nullptr);
    EXPECT_TRUE(b.IsEmpty());
    TTexture texture;
    EXPECT_THROW(b.Assign(&texture), EConvertError);
}

TEST(Bitmaps, EveryChangeIsNotified)
{
    TBitmap bitmap;
    int changes = 0;
    bitmap.OnChange = [&](TObject* Sender) {
        EXPECT_EQ(Sender, &bitmap);
        ++changes;
    };
    bitmap.SetSize(2, 2);
    EXPECT_EQ(changes, 1);
    TBitmapData data;
    bitmap.Map(TMapAccess::Read, data);
    bitmap.Unmap(data);
    EXPECT_EQ(changes, 1); // reading is no change
    bitmap.Map(TMapAccess::ReadWrite, data);
    bitmap.Unmap(data);
    EXPECT_EQ(changes, 2);
    bitmap.Clear(TAlphaColors::White);
    EXPECT_EQ(changes, 3);
    TBitmap other(1, 1);
    bitmap.Assign(&other);
    EXPECT_EQ(changes, 4);
}

TEST(Bitmaps, ResourcesAreFreedWithTheBitmap)
{
    auto* bitmap = new TBitmap(2, 2);
    TCanvas* canvas = bitmap->Canvas();
    EXPECT_EQ(bitmap->Canvas(), canvas);
    EXPECT_EQ(canvas->Bitmap(), bitmap);
    EXPECT_TRUE(canvas->BeginScene());
    EXPECT_EQ(canvas->BeginSceneCount(), 1);
    canvas->EndScene();
    canvas->EndScene();
    EXPECT_EQ(canvas->BeginSceneCount(), 0);
    bitmap->DestroyResources();
    EXPECT_EQ(bitmap->CanvasIfAllocated(), nullptr);
    bitmap->Canvas();
    bitmap->Free(); // the leak checker sees the canvas go
}

TEST(Textures, AssigningATextureCopiesItsSettingsNotItsGPUObject)
{
    TTexture a;
    a.SetSize(8, 4);
    a.SetPixelFormat(TPixelFormat::RGBA16F);
    a.SetStyle({TTextureStyle::RenderTarget, TTextureStyle::MipMaps});
    a.SetMinFilter(TTextureFilter::Nearest);
    TTexture b;
    b.Assign(&a);
    EXPECT_EQ(b.Width(), 8);
    EXPECT_EQ(b.Height(), 4);
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::RGBA16F);
    EXPECT_EQ(b.Style(), (TTextureStyles{TTextureStyle::RenderTarget, TTextureStyle::MipMaps}));
    EXPECT_EQ(b.MinFilter(), TTextureFilter::Nearest);
    EXPECT_EQ(b.MagFilter(), TTextureFilter::Linear);
    EXPECT_EQ(b.Handle(), 0u);
}

// A written file decodes (with an independent reader) to the same pixels, top
// row first, alpha included; BMP and PNG alike.
TEST(Bitmaps, SaveToFileWritesWhatAReaderGetsBack)
{
    TempFolder folder;
    TBitmap bitmap(3, 2);
    {
        TBitmapData data;
        ASSERT_TRUE(bitmap.Map(TMapAccess::Write, data));
        data.SetPixel(0, 0, MakeAlphaColor(255, 0, 0));
        data.SetPixel(1, 0, MakeAlphaColor(0, 255, 0));
        data.SetPixel(2, 0, MakeAlphaColor(0, 0, 255));
        data.SetPixel(0, 1, MakeAlphaColor(10, 20, 30, 128));
        data.SetPixel(1, 1, MakeAlphaColor(255, 255, 255));
        data.SetPixel(2, 1, MakeAlphaColor(0, 0, 0, 0));
        bitmap.Unmap(data);
    }
    for (const char* name : {"image.bmp", "image.PNG"}) {
        const std::string file = folder.Path(name);
        bitmap.SaveToFile(file);
        int w = 0, h = 0, n = 0;
        stbi_uc* pixels = stbi_load(file.c_str(), &w, &h, &n, 4);
        ASSERT_NE(pixels, nullptr) << name << ": " << stbi_failure_reason();
        ASSERT_EQ(w, 3);
        ASSERT_EQ(h, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                const stbi_uc* p = pixels + (y * 3 + x) * 4;
                const TAlphaColor c = PixelAt(bitmap, x, y);
                EXPECT_EQ(MakeAlphaColor(p[0], p[1], p[2], p[3]), c) << name << " at " << x << "," << y;
            }
        stbi_image_free(pixels);
    }
}

TEST(Bitmaps, SaveToFileRefusesWhatItCannotWrite)
{
    TempFolder folder;
    TBitmap bitmap(2, 2);
    EXPECT_THROW(bitmap.SaveToFile(folder.Path("image.tga")), EWriteError);
    EXPECT_THROW(bitmap.SaveToFile(folder.Path("image")), EWriteError);
    EXPECT_THROW(bitmap.SaveToFile(folder.Path("missing/folder/image.bmp")), EWriteError);
    TBitmap empty;
    EXPECT_THROW(empty.SaveToFile(folder.Path("empty.bmp")), EWriteError);
    EXPECT_TRUE(std::filesystem::is_empty(folder.Folder()));
}

TEST(Path, RandomFileNamesHaveTheirShapeAndDiffer)
{
    std::set<std::string> names;
    for (int i = 0; i < 100; ++i) {
        const std::string name = TPath::GetRandomFileName();
        ASSERT_EQ(name.size(), 12u) << name;
        EXPECT_EQ(name[8], '.') << name;
        for (size_t k = 0; k < name.size(); ++k) {
            if (k == 8) continue;
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(name[k]))) << name;
        }
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 100u);
}
