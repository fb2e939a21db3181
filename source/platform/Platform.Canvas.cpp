#include "Platform.Canvas.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "Platform.Bitmaps.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Fonts.h"

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb/stb_truetype.h>

namespace korvane {

namespace {
std::recursive_mutex& CanvasLock()
{
    static std::recursive_mutex lock;
    return lock;
}

// Straight-alpha "source over" of a colour with coverage ACover (0..1).
void Blend(uint8_t* APixel, TAlphaColor AColor, float ACover)
{
    const uint32_t c = AColor.Value;
    const float sa = float((c >> 24) & 0xFF) / 255.0f * ACover;
    if (sa <= 0) return;
    const float da = float(APixel[3]) / 255.0f;
    const float oa = sa + da * (1 - sa);
    const float src[3] = {float(c & 0xFF), float((c >> 8) & 0xFF), float((c >> 16) & 0xFF)}; // B, G, R
    for (int i = 0; i < 3; ++i) {
        const float v = oa > 0 ? (src[i] * sa + float(APixel[i]) * da * (1 - sa)) / oa : 0;
        APixel[i] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
    APixel[3] = static_cast<uint8_t>(std::clamp(std::lround(oa * 255.0f), 0L, 255L));
}

// The share of the 4 x 4 sample points of pixel (X, Y) inside a rectangle
// with rounded or bevelled corners.
struct TRoundRect {
    TRectF R;
    float RX, RY;
    TCorners Corners;
    TCornerType Type;

    bool Inside(float X, float Y) const
    {
        if (X < R.Left || X >= R.Right || Y < R.Top || Y >= R.Bottom) return false;
        if (RX <= 0 || RY <= 0) return true;
        const bool left = X < R.Left + RX, right = X >= R.Right - RX;
        const bool top = Y < R.Top + RY, bottom = Y >= R.Bottom - RY;
        TCorner corner;
        float cx, cy;
        if (left && top) corner = TopLeft, cx = R.Left + RX, cy = R.Top + RY;
        else if (right && top) corner = TopRight, cx = R.Right - RX, cy = R.Top + RY;
        else if (left && bottom) corner = BottomLeft, cx = R.Left + RX, cy = R.Bottom - RY;
        else if (right && bottom) corner = BottomRight, cx = R.Right - RX, cy = R.Bottom - RY;
        else return true;
        if (!Corners.Contains(corner)) return true;
        const float dx = std::abs(X - cx) / RX, dy = std::abs(Y - cy) / RY;
        return Type == TCornerType::Round ? dx * dx + dy * dy <= 1.0f : dx + dy <= 1.0f;
    }
    float Coverage(int X, int Y) const
    {
        int n = 0;
        for (int sy = 0; sy < 4; ++sy)
            for (int sx = 0; sx < 4; ++sx)
                if (Inside(float(X) + (float(sx) + 0.5f) / 4, float(Y) + (float(sy) + 0.5f) / 4)) ++n;
        return float(n) / 16.0f;
    }
};

// The default font, read once.
struct TFontFace {
    stbtt_fontinfo Info{};
    bool Valid = false;
    TFontFace()
    {
        const auto data = DefaultFontData();
        Valid = stbtt_InitFont(&Info, data.data(), stbtt_GetFontOffsetForIndex(data.data(), 0)) != 0;
    }
};
const TFontFace& Face()
{
    static const TFontFace face;
    return face;
}

// UTF-8 to code points; malformed bytes become U+FFFD.
std::vector<uint32_t> CodePoints(const std::string& AText)
{
    std::vector<uint32_t> out;
    for (size_t i = 0; i < AText.size();) {
        const auto b = static_cast<uint8_t>(AText[i]);
        int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len > 0 && i + size_t(len) <= AText.size();
        for (int k = 1; ok && k < len; ++k) {
            const auto c = static_cast<uint8_t>(AText[i + size_t(k)]);
            if ((c >> 6) != 2) ok = false;
            else cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
        } else {
            out.push_back(cp);
            i += size_t(len);
        }
    }
    return out;
}
} // namespace

struct TCanvas::TTarget {
    TBitmapData Data;
    TRect Clip;
};

KORVANE_IMPLEMENT_CLASS(TCanvas, "Platform.Canvas")

bool TCanvas::BeginScene()
{
    ++FBeginSceneCount;
    return true;
}

void TCanvas::EndScene()
{
    if (FBeginSceneCount > 0) --FBeginSceneCount;
}

void TCanvas::Lock() { CanvasLock().lock(); }
void TCanvas::Unlock() { CanvasLock().unlock(); }
bool TCanvas::TryLock() { return CanvasLock().try_lock(); }

template <class F>
void TCanvas::Draw(F&& AWork)
{
    if (!FBitmap || FBitmap->IsEmpty()) return;
    TTarget t;
    if (!FBitmap->Map(TMapAccess::ReadWrite, t.Data)) return;
    t.Clip = TRect(0, 0, t.Data.Width, t.Data.Height);
    try {
        AWork(t);
    } catch (...) {
        FBitmap->Unmap(t.Data);
        throw;
    }
    FBitmap->Unmap(t.Data);
}

void TCanvas::Clear(TAlphaColor AColor)
{
    Draw([&](TTarget& t) {
        for (int y = 0; y < t.Data.Height; ++y) {
            auto* row = reinterpret_cast<TAlphaColor*>(t.Data.GetScanline(y));
            std::fill(row, row + t.Data.Width, AColor);
        }
    });
}

void TCanvas::FillRect(const TRectF& ARect, float AXRadius, float AYRadius, const TCorners& ACorners,
                       float AOpacity, TCornerType ACornerType)
{
    if (ARect.IsEmpty() || AOpacity <= 0) return;
    const TRoundRect shape{ARect, std::clamp(AXRadius, 0.0f, ARect.Width() / 2),
                           std::clamp(AYRadius, 0.0f, ARect.Height() / 2), ACorners, ACornerType};
    const TAlphaColor color = Fill.Color;
    const float opacity = std::min(AOpacity, 1.0f);
    Draw([&](TTarget& t) {
        const int x0 = std::max(t.Clip.Left, int(std::floor(ARect.Left)));
        const int y0 = std::max(t.Clip.Top, int(std::floor(ARect.Top)));
        const int x1 = std::min(t.Clip.Right, int(std::ceil(ARect.Right)));
        const int y1 = std::min(t.Clip.Bottom, int(std::ceil(ARect.Bottom)));
        for (int y = y0; y < y1; ++y) {
            uint8_t* row = t.Data.GetScanline(y);
            for (int x = x0; x < x1; ++x) {
                const float cover = shape.Coverage(x, y);
                if (cover > 0) Blend(row + size_t(x) * 4, color, cover * opacity);
            }
        }
    });
}

void TCanvas::DrawBitmap(const TBitmap& ABitmap, const TRectF& ASrcRect, const TRectF& ADstRect, float AOpacity,
                         bool AHighSpeed)
{
    if (ABitmap.IsEmpty() || ADstRect.IsEmpty() || ASrcRect.IsEmpty() || AOpacity <= 0) return;
    // Drawing a bitmap onto itself reads a copy.
    TOwned<TBitmap> copy;
    const TBitmap* source = &ABitmap;
    if (source == FBitmap) {
        copy = MakeOwned<TBitmap>();
        copy->Assign(&ABitmap);
        source = copy.get();
    }
    TBitmapData src;
    auto* readable = const_cast<TBitmap*>(source);
    if (!readable->Map(TMapAccess::Read, src)) return;
    const float opacity = std::min(AOpacity, 1.0f);
    auto texel = [&](int X, int Y) {
        X = std::clamp(X, 0, src.Width - 1);
        Y = std::clamp(Y, 0, src.Height - 1);
        return src.GetScanline(Y) + size_t(X) * 4;
    };
    try {
        Draw([&](TTarget& t) {
            const int x0 = std::max(t.Clip.Left, int(std::floor(ADstRect.Left)));
            const int y0 = std::max(t.Clip.Top, int(std::floor(ADstRect.Top)));
            const int x1 = std::min(t.Clip.Right, int(std::ceil(ADstRect.Right)));
            const int y1 = std::min(t.Clip.Bottom, int(std::ceil(ADstRect.Bottom)));
            const float sx = ASrcRect.Width() / ADstRect.Width(), sy = ASrcRect.Height() / ADstRect.Height();
            for (int y = y0; y < y1; ++y) {
                uint8_t* row = t.Data.GetScanline(y);
                const float v = ASrcRect.Top + (float(y) + 0.5f - ADstRect.Top) * sy;
                for (int x = x0; x < x1; ++x) {
                    const float u = ASrcRect.Left + (float(x) + 0.5f - ADstRect.Left) * sx;
                    uint8_t c[4];
                    if (AHighSpeed) {
                        std::copy_n(texel(int(std::floor(u)), int(std::floor(v))), 4, c);
                    } else {
                        const float fu = u - 0.5f, fv = v - 0.5f;
                        const int iu = int(std::floor(fu)), iv = int(std::floor(fv));
                        const float au = fu - float(iu), av = fv - float(iv);
                        const uint8_t* p00 = texel(iu, iv);
                        const uint8_t* p10 = texel(iu + 1, iv);
                        const uint8_t* p01 = texel(iu, iv + 1);
                        const uint8_t* p11 = texel(iu + 1, iv + 1);
                        for (int k = 0; k < 4; ++k) {
                            const float top = float(p00[k]) * (1 - au) + float(p10[k]) * au;
                            const float bottom = float(p01[k]) * (1 - au) + float(p11[k]) * au;
                            c[k] = static_cast<uint8_t>(std::lround(top * (1 - av) + bottom * av));
                        }
                    }
                    const TAlphaColor color(uint32_t(c[0]) | uint32_t(c[1]) << 8 | uint32_t(c[2]) << 16 |
                                            uint32_t(c[3]) << 24);
                    Blend(row + size_t(x) * 4, color, opacity);
                }
            }
        });
    } catch (...) {
        readable->Unmap(src);
        throw;
    }
    readable->Unmap(src);
}

void TCanvas::FillText(const TRectF& ARect, const std::string& AText, bool AWordWrap, float AOpacity,
                       TTextAlign AHAlign, TTextAlign AVAlign)
{
    const TFontFace& face = Face();
    if (!face.Valid || AText.empty() || ARect.IsEmpty() || AOpacity <= 0) return;
    const stbtt_fontinfo* font = &face.Info;
    const float scale = stbtt_ScaleForPixelHeight(font, std::max(Font.Size, 1.0f));
    int ascent = 0, descent = 0, gap = 0;
    stbtt_GetFontVMetrics(font, &ascent, &descent, &gap);
    const float lineHeight = float(ascent - descent + gap) * scale;
    auto advance = [&](uint32_t cp) {
        int adv = 0, lsb = 0;
        stbtt_GetCodepointHMetrics(font, int(cp), &adv, &lsb);
        return float(adv) * scale;
    };
    // Lines: split at line breaks, and with word wrap at blanks to fit the width.
    std::vector<std::vector<uint32_t>> lines(1);
    std::vector<uint32_t> word;
    float lineWidth = 0, wordWidth = 0;
    auto flushWord = [&] {
        if (AWordWrap && !lines.back().empty() && lineWidth + wordWidth > ARect.Width()) {
            while (!lines.back().empty() && lines.back().back() == ' ') lines.back().pop_back();
            lines.emplace_back();
            lineWidth = 0;
        }
        lines.back().insert(lines.back().end(), word.begin(), word.end());
        lineWidth += wordWidth;
        word.clear();
        wordWidth = 0;
    };
    for (uint32_t cp : CodePoints(AText)) {
        if (cp == '\r') continue;
        if (cp == '\n') {
            flushWord();
            lines.emplace_back();
            lineWidth = 0;
            continue;
        }
        word.push_back(cp);
        wordWidth += advance(cp);
        if (cp == ' ') flushWord();
    }
    flushWord();

    const TAlphaColor color = Fill.Color;
    const float opacity = std::min(AOpacity, 1.0f);
    const float total = lineHeight * float(lines.size());
    float top = ARect.Top;
    if (AVAlign == TTextAlign::Center) top += (ARect.Height() - total) / 2;
    else if (AVAlign == TTextAlign::Trailing) top = ARect.Bottom - total;
    Draw([&](TTarget& t) {
        // Only pixels inside the text rectangle (and the bitmap) are drawn.
        const int cx0 = std::max(t.Clip.Left, int(std::ceil(ARect.Left)));
        const int cy0 = std::max(t.Clip.Top, int(std::ceil(ARect.Top)));
        const int cx1 = std::min(t.Clip.Right, int(std::floor(ARect.Right)));
        const int cy1 = std::min(t.Clip.Bottom, int(std::floor(ARect.Bottom)));
        for (size_t li = 0; li < lines.size(); ++li) {
            float width = 0;
            for (uint32_t cp : lines[li]) width += advance(cp);
            float x = ARect.Left;
            if (AHAlign == TTextAlign::Center) x += (ARect.Width() - width) / 2;
            else if (AHAlign == TTextAlign::Trailing) x = ARect.Right - width;
            const float baseline = top + lineHeight * float(li) + float(ascent) * scale;
            for (uint32_t cp : lines[li]) {
                int w = 0, h = 0, xoff = 0, yoff = 0;
                const float shift = x - std::floor(x);
                unsigned char* glyph =
                    stbtt_GetCodepointBitmapSubpixel(font, scale, scale, shift, 0, int(cp), &w, &h, &xoff, &yoff);
                const int gx = int(std::floor(x)) + xoff, gy = int(std::lround(baseline)) + yoff;
                for (int j = 0; j < h; ++j) {
                    const int py = gy + j;
                    if (py < cy0 || py >= cy1) continue;
                    uint8_t* row = t.Data.GetScanline(py);
                    for (int i = 0; i < w; ++i) {
                        const int px = gx + i;
                        if (px < cx0 || px >= cx1) continue;
                        const unsigned char a = glyph[j * w + i];
                        if (a) Blend(row + size_t(px) * 4, color, float(a) / 255.0f * opacity);
                    }
                }
                stbtt_FreeBitmap(glyph, nullptr);
                x += advance(cp);
            }
        }
    });
}

} // namespace korvane
