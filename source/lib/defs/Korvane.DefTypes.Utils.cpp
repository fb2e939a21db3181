#include "Korvane.DefTypes.Utils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "Platform.Classes.h"
#include "Platform.SysUtils.h"

namespace korvane {

namespace {

// "0.0000000" and "0.0000": fixed decimals, "en-US", no exponent, no grouping.
std::string Fixed7(float v) { return FloatToStrFixed(static_cast<double>(v), 7); }
std::string Fixed4(float v) { return FloatToStrFixed(static_cast<double>(v), 4); }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// The number syntax of the readers: optional blanks, an optional sign, digits
// with an optional point and further digits (at least one digit in all), an
// optional exponent, optional blanks. Values outside the range of Single do
// not convert.
bool TryTextToSingle(std::string_view token, float& value)
{
    std::string_view s = TrimBlanks(token);
    size_t i = 0;
    const size_t n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    bool negativeExponent = false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) negativeExponent = s[i++] == '-';
        size_t expDigits = 0;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != n) return false;
    if (s.front() == '+') s.remove_prefix(1);
    double d = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), d, std::chars_format::general);
    if (r.ptr != s.data() + s.size()) return false;
    if (r.ec == std::errc::result_out_of_range && negativeExponent) d = 0; // too small: zero
    else if (r.ec != std::errc()) return false;
    if (std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max())) return false;
    value = static_cast<float>(d);
    return true;
}

float TextToSingle(std::string_view token)
{
    float v = 0;
    return TryTextToSingle(token, v) ? v : 0.0f;
}

// An optional sign followed by decimal digits, within the 32-bit range.
int32_t TextToInteger(std::string_view token)
{
    std::string_view s = token;
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return 0;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + (c - '0');
        if (v > int64_t(INT32_MAX) + 1) return 0;
    }
    if (negative) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return 0;
    return static_cast<int32_t>(v);
}

// Calls f(token) for every non-empty token between separators.
template <typename F>
void ForEachToken(std::string_view text, char sep, F&& f)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(sep, start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) f(text.substr(start, end - start));
        start = end + 1;
    }
}

// The fixed-size readers: split at commas when there is one, else at blanks;
// token k goes to component k.
template <size_t N>
void ReadComponents(std::string_view text, float (&out)[N])
{
    for (auto& v : out) v = 0;
    const char sep = text.find(',') != std::string_view::npos ? ',' : ' ';
    size_t k = 0;
    ForEachToken(text, sep, [&](std::string_view token) {
        if (k < N) out[k] = TextToSingle(token);
        ++k;
    });
}

template <typename T, typename F>
std::string Join(const std::vector<T>& items, char sep, F&& text)
{
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += sep;
        out += text(items[i]);
    }
    return out;
}

const char* const FlippingNames[] = {"Vertical", "Horizontal"};
const char* const VertexFormatNames[] = {"Vertex",    "Normal",    "Color0",    "Color1",    "Color2",   "Color3",
                                         "ColorF0",   "ColorF1",   "ColorF2",   "ColorF3",   "TexCoord0", "TexCoord1",
                                         "TexCoord2", "TexCoord3", "BiNormal",  "Tangent"};

template <typename E, size_t N>
std::string SetToString(TSet<E> s, const char* const (&names)[N])
{
    std::string out;
    for (size_t i = 0; i < N; ++i)
        if (s.Contains(static_cast<E>(i))) {
            if (!out.empty()) out += ',';
            out += names[i];
        }
    return out;
}

template <typename E, size_t N>
TSet<E> StringToSet(std::string_view text, const char* const (&names)[N])
{
    TSet<E> s;
    ForEachToken(text, ',', [&](std::string_view token) {
        for (size_t i = 0; i < N; ++i)
            if (SameText(token, names[i])) s.Include(static_cast<E>(i));
    });
    return s;
}

} // namespace

// ---- writers ----

std::string Point3DToString(const TPoint3D& P, char Sep)
{
    return Fixed7(P.X) + Sep + Fixed7(P.Y) + Sep + Fixed7(P.Z);
}

std::string AlphaColorFToString(const TAlphaColorF& C, bool IncludeAlpha, char Sep)
{
    std::string s = Fixed4(C.R) + Sep + Fixed4(C.G) + Sep + Fixed4(C.B);
    if (IncludeAlpha) s += Sep + Fixed4(C.A);
    return s;
}

std::string PointFToString(const TPointF& P, char Sep) { return Fixed7(P.X) + Sep + Fixed7(P.Y); }

std::string Vector3DToString(const TVector3D& V, char Sep)
{
    return Fixed7(V.X) + Sep + Fixed7(V.Y) + Sep + Fixed7(V.Z) + Sep + Fixed7(V.W);
}

std::string Quaternion3DToString(const TQuaternion3D& Q, char Sep)
{
    return Vector3DToString(TVector3D(Q.ImagPart.X, Q.ImagPart.Y, Q.ImagPart.Z, Q.RealPart), Sep);
}

std::string Matrix3DToString(const TMatrix3D& M, std::string* Builder, char Sep)
{
    std::string own;
    std::string& out = Builder ? *Builder : own;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            if (r + c > 0) out += Sep;
            out += Fixed7(M.M[r][c]);
        }
    return out;
}

std::string SingleArrayToString(const std::vector<float>& A, char Sep)
{
    return Join(A, Sep, [](float v) { return Fixed7(v); });
}

std::string IntegerArrayToString(const std::vector<int32_t>& A, char Sep)
{
    return Join(A, Sep, [](int32_t v) { return std::to_string(v); });
}

std::string Point3DArrayToString(const std::vector<TPoint3D>& A, char Sep)
{
    return Join(A, Sep, [](const TPoint3D& p) { return Point3DToString(p, ' '); });
}

std::string BytesToString(const uint8_t* Data, int64_t Count)
{
    std::string out;
    if (!Data || Count <= 0) return out;
    for (int64_t i = 0; i < Count; ++i) {
        out += std::to_string(Data[i]);
        out += ' ';
    }
    return out;
}

std::string TextureFlippingsToString(TTextureFlippings S) { return SetToString(S, FlippingNames); }

std::string VertexFormatsToString(TVertexFormats S) { return SetToString(S, VertexFormatNames); }

// ---- readers ----

TPoint3D StringToPoint3D(std::string_view Text)
{
    float v[3];
    ReadComponents(Text, v);
    return TPoint3D(v[0], v[1], v[2]);
}

TAlphaColorF StringToAlphaColorF(std::string_view Text)
{
    float v[4];
    ReadComponents(Text, v);
    return TAlphaColorF(v[0], v[1], v[2], v[3]);
}

TPointF StringToPointF(std::string_view Text)
{
    float v[2];
    ReadComponents(Text, v);
    return TPointF(v[0], v[1]);
}

TVector3D StringToVector3D(std::string_view Text)
{
    float v[4];
    ReadComponents(Text, v);
    return TVector3D(v[0], v[1], v[2], v[3]);
}

TQuaternion3D StringToQuaternion3D(std::string_view Text)
{
    float v[4];
    ReadComponents(Text, v);
    return TQuaternion3D(TPoint3D(v[0], v[1], v[2]), v[3]);
}

TMatrix3D StringToMatrix3D(std::string_view Text)
{
    const std::vector<float> numbers = StringToSingleArray(Text);
    TMatrix3D m = TMatrix3D::Identity();
    for (size_t i = 0; i < numbers.size() && i < 16; ++i) m.M[i / 4][i % 4] = numbers[i];
    return m;
}

std::vector<float> StringToSingleArray(std::string_view Text)
{
    std::vector<float> out;
    ForEachToken(Text, ' ', [&](std::string_view token) { out.push_back(TextToSingle(token)); });
    return out;
}

std::vector<int32_t> StringToIntegerArray(std::string_view Text)
{
    std::vector<int32_t> out;
    ForEachToken(Text, ' ', [&](std::string_view token) { out.push_back(TextToInteger(token)); });
    return out;
}

std::vector<uint8_t> StringToByteArray(std::string_view Text)
{
    std::vector<uint8_t> out;
    ForEachToken(Text, ' ', [&](std::string_view token) {
        out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(TextToInteger(token)) & 0xFFu));
    });
    return out;
}

std::vector<TPoint3D> SingleArrayToPoint3DArray(const std::vector<float>& A)
{
    std::vector<TPoint3D> out;
    out.reserve(A.size() / 3);
    for (size_t i = 0; i + 2 < A.size(); i += 3) out.emplace_back(A[i], A[i + 1], A[i + 2]);
    return out;
}

std::vector<TPoint3D> StringToPoint3DArray(std::string_view Text)
{
    return SingleArrayToPoint3DArray(StringToSingleArray(Text));
}

TTextureFlippings StringToTextureFlippings(std::string_view Text)
{
    return StringToSet<TTextureFlipping>(Text, FlippingNames);
}

TVertexFormats StringToVertexFormats(std::string_view Text) { return StringToSet<TVertexFormat>(Text, VertexFormatNames); }

// ---- naming ----

std::string MakeIdentifierName(std::string_view Name)
{
    // One "_" for each character that is not allowed; a character beyond
    // ASCII is one UTF-8 sequence (a lead byte and its continuation bytes).
    std::string out;
    out.reserve(Name.size());
    for (size_t i = 0; i < Name.size(); ++i) {
        const char c = Name[i];
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (ok) {
            out += c;
            continue;
        }
        out += '_';
        if (static_cast<unsigned char>(c) >= 0xC0)
            while (i + 1 < Name.size() && (static_cast<unsigned char>(Name[i + 1]) & 0xC0) == 0x80) ++i;
    }
    if (!out.empty() && out.front() >= '0' && out.front() <= '9') out.insert(out.begin(), '_');
    return out;
}

bool IsUniqueComponentName(TComponent* AObject, std::string_view Name)
{
    if (IsUniqueGlobalComponentNameProc) return IsUniqueGlobalComponentNameProc(Name);
    if (FindGlobalComponent(Name)) return false;
    for (TComponent* object = AObject; object; object = object->Owner())
        if (object->FindComponent(Name)) return false;
    return true;
}

std::string MakeUniqueChildName(TComponent* AObject, std::string_view Name)
{
    std::string name = MakeIdentifierName(Name);
    while (!IsUniqueComponentName(AObject, name)) name += "_1";
    return name;
}

void DirtyHackApplyMeshDataBuffers(TMeshData* MeshData, const TVertexBuffer* VertexBuffer,
                                   const TIndexBuffer* IndexBuffer)
{
    if (!MeshData) return;
    try {
        if (VertexBuffer) MeshData->VertexBuffer().Assign(*VertexBuffer);
        if (IndexBuffer && IndexBuffer->Size() > 0) MeshData->IndexBuffer().Assign(*IndexBuffer);
    } catch (const std::exception& e) {
        throw Exception(std::string("DirtyHackApplyMeshDataBuffers() : ") + e.what());
    }
}

int32_t StringByteSize(std::string_view S)
{
    // UTF-16 code units of the UTF-8 text: one per character, two for characters
    // beyond the basic plane (four-byte sequences).
    int64_t units = 0;
    for (unsigned char c : S) {
        if ((c & 0xC0) == 0x80) continue;
        units += c >= 0xF0 ? 2 : 1;
    }
    return static_cast<int32_t>(std::min<int64_t>(units * 2, INT32_MAX));
}

} // namespace korvane
