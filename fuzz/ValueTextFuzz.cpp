// The text readers of the definitions' values on arbitrary text. They never
// raise and never give a non-finite number; what they read, written and read
// again, writes the same text (the writers round to fixed decimals, so the
// second text is the one to compare), and the exact kinds (integers, bytes,
// sets) read back equal.

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "Korvane.DefTypes.Utils.h"

using namespace korvane;
using korvane::fuzz::Check;

namespace {

void CheckFinite(std::initializer_list<float> values, const char* reader)
{
    for (float v : values) Check(std::isfinite(v), reader);
}

// write(read(write(read(text)))) == write(read(text)).
template <typename Read, typename Write>
void CheckStable(std::string_view text, Read&& read, Write&& write, const char* what)
{
    const std::string once = write(read(text));
    const std::string twice = write(read(once));
    Check(once == twice, what, once + "\n" + twice);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const TPoint3D p = StringToPoint3D(text);
    CheckFinite({p.X, p.Y, p.Z}, "StringToPoint3D gave a non-finite value");
    const TVector3D v = StringToVector3D(text);
    CheckFinite({v.X, v.Y, v.Z, v.W}, "StringToVector3D gave a non-finite value");
    const TAlphaColorF c = StringToAlphaColorF(text);
    CheckFinite({c.R, c.G, c.B, c.A}, "StringToAlphaColorF gave a non-finite value");
    const TPointF pf = StringToPointF(text);
    CheckFinite({pf.X, pf.Y}, "StringToPointF gave a non-finite value");
    const TQuaternion3D q = StringToQuaternion3D(text);
    CheckFinite({q.ImagPart.X, q.ImagPart.Y, q.ImagPart.Z, q.RealPart}, "StringToQuaternion3D gave a non-finite value");
    const TMatrix3D m = StringToMatrix3D(text);
    for (int i = 0; i < 16; ++i) CheckFinite({m.M[i / 4][i % 4]}, "StringToMatrix3D gave a non-finite value");
    for (float f : StringToSingleArray(text)) CheckFinite({f}, "StringToSingleArray gave a non-finite value");

    CheckStable(text, StringToPoint3D, [](const TPoint3D& x) { return Point3DToString(x); }, "TPoint3D text");
    CheckStable(text, StringToVector3D, [](const TVector3D& x) { return Vector3DToString(x); }, "TVector3D text");
    CheckStable(text, StringToAlphaColorF, [](const TAlphaColorF& x) { return AlphaColorFToString(x); },
                "TAlphaColorF text");
    CheckStable(text, StringToPointF, [](const TPointF& x) { return PointFToString(x); }, "TPointF text");
    CheckStable(text, StringToQuaternion3D, [](const TQuaternion3D& x) { return Quaternion3DToString(x); },
                "TQuaternion3D text");
    CheckStable(text, StringToMatrix3D, [](const TMatrix3D& x) { return Matrix3DToString(x); }, "TMatrix3D text");
    CheckStable(text, StringToSingleArray, [](const std::vector<float>& x) { return SingleArrayToString(x); },
                "single array text");
    CheckStable(text, StringToPoint3DArray, [](const std::vector<TPoint3D>& x) { return Point3DArrayToString(x); },
                "point array text");

    const std::vector<int32_t> integers = StringToIntegerArray(text);
    Check(StringToIntegerArray(IntegerArrayToString(integers)) == integers, "integer array does not read back");
    const std::vector<uint8_t> bytes = StringToByteArray(text);
    Check(StringToByteArray(BytesToString(bytes.data(), int64_t(bytes.size()))) == bytes,
          "byte array does not read back");
    const TVertexFormats formats = StringToVertexFormats(text);
    Check(StringToVertexFormats(VertexFormatsToString(formats)) == formats, "vertex formats do not read back");
    const TTextureFlippings flippings = StringToTextureFlippings(text);
    Check(StringToTextureFlippings(TextureFlippingsToString(flippings)) == flippings,
          "texture flippings do not read back");

    // Names made from outside text are identifiers.
    const std::string name = MakeIdentifierName(text);
    for (size_t i = 0; i < name.size(); ++i) {
        const char ch = name[i];
        const bool ok = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '_' ||
                        (i > 0 && ch >= '0' && ch <= '9');
        Check(ok, "MakeIdentifierName gave a character outside an identifier", name);
    }
    Check(StringByteSize(text) >= 0, "StringByteSize is negative");
    return 0;
}
