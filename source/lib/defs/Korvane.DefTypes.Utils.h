#pragma once
// Text forms of the values the definition model stores as JSON strings
// (points, vectors, colours, quaternions, matrices, number lists, enumeration
// sets), the readers that turn them back, and the naming helpers of scene
// components built from definitions.
//
// Numbers are always written and read in the "en-US" form, whatever the
// process locale. Readers never fail: an unreadable number reads as 0,
// missing components stay 0 and unknown set names are skipped.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Platform.Classes.h"
#include "Platform.Math3D.h"
#include "Platform.MeshBuffers.h"
#include "Platform.Types3D.h"

namespace korvane {

enum class TTextureFlipping : uint8_t { Vertical, Horizontal };

using TTextureFlippings = TSet<TTextureFlipping>;

// Writers. Sep separates the numbers; every writer in the definition model passes a blank.
std::string Point3DToString(const TPoint3D& P, char Sep = ' ');
std::string AlphaColorFToString(const TAlphaColorF& C, bool IncludeAlpha = true, char Sep = ' ');
std::string PointFToString(const TPointF& P, char Sep = ' ');
std::string Vector3DToString(const TVector3D& V, char Sep = ' ');
std::string Quaternion3DToString(const TQuaternion3D& Q, char Sep = ' ');
// The 16 entries row by row. With a builder the entries are appended to it and
// the result is the builder's whole text.
std::string Matrix3DToString(const TMatrix3D& M, std::string* Builder = nullptr, char Sep = ' ');
std::string SingleArrayToString(const std::vector<float>& A, char Sep = ' ');
std::string IntegerArrayToString(const std::vector<int32_t>& A, char Sep = ' ');
std::string Point3DArrayToString(const std::vector<TPoint3D>& A, char Sep = ' ');
// Each byte in decimal followed by one blank; nothing for no data or Count <= 0.
std::string BytesToString(const uint8_t* Data, int64_t Count);
// Names of the members present, in declaration order, joined by "," without blanks.
std::string TextureFlippingsToString(TTextureFlippings S);
std::string VertexFormatsToString(TVertexFormats S);

// Readers.
TPoint3D StringToPoint3D(std::string_view Text);
TAlphaColorF StringToAlphaColorF(std::string_view Text);
TPointF StringToPointF(std::string_view Text);
TVector3D StringToVector3D(std::string_view Text);
TQuaternion3D StringToQuaternion3D(std::string_view Text);
// No number at all gives the identity; entries without a number keep the identity's value.
TMatrix3D StringToMatrix3D(std::string_view Text);
std::vector<float> StringToSingleArray(std::string_view Text);
std::vector<int32_t> StringToIntegerArray(std::string_view Text);
std::vector<uint8_t> StringToByteArray(std::string_view Text);
std::vector<TPoint3D> StringToPoint3DArray(std::string_view Text);
std::vector<TPoint3D> SingleArrayToPoint3DArray(const std::vector<float>& A);
// Names split at every comma (blanks are kept), matched ignoring letter case;
// names of no member are skipped.
TTextureFlippings StringToTextureFlippings(std::string_view Text);
TVertexFormats StringToVertexFormats(std::string_view Text);

// Every character outside A-Z, a-z, 0-9 and "_" becomes "_"; a leading digit gets "_" in front.
std::string MakeIdentifierName(std::string_view Name);
// True when the name is free: the installable global check decides when set;
// otherwise no global component and no component owned by AObject (may be
// nullptr) or by an owner above it has the name.
bool IsUniqueComponentName(TComponent* AObject, std::string_view Name);
// MakeIdentifierName of Name with "_1" appended until the name is unique
// ('Box', 'Box_1', 'Box_1_1').
std::string MakeUniqueChildName(TComponent* AObject, std::string_view Name);
// Makes MeshData's buffers independent copies: its vertex buffer takes the
// layout and data of VertexBuffer (when given), its index buffer the indices
// of IndexBuffer (when given and not empty). Nothing for a null MeshData.
// Failures are raised again as "DirtyHackApplyMeshDataBuffers() : " and the message.
void DirtyHackApplyMeshDataBuffers(TMeshData* MeshData, const TVertexBuffer* VertexBuffer,
                                   const TIndexBuffer* IndexBuffer);
// The size of S in the definitions' size estimates: two bytes per UTF-16 code unit.
int32_t StringByteSize(std::string_view S);

} // namespace korvane
