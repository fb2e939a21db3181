#pragma once
// Frame compression: packs one vertex attribute of a vertex buffer into a plain
// stream, and compresses or decompresses such streams with zlib. Baked animation
// frames and the mesh buffer objects use it.

#include <cstdint>

#include "Platform.Classes.h"
#include "Platform.Streams.h"
#include "Platform.Types3D.h"

namespace korvane {

// A stream that is not a whole zlib stream, or inflates past its bound.
class EZDecompressionError : public Exception {
public:
    using Exception::Exception;
};
class EZCompressionError : public Exception {
public:
    using Exception::Exception;
};

// Class methods only; nothing is instantiated.
class TAnimationFrameCompression {
public:
    // Compression and decompression copy in blocks of this many bytes.
    static constexpr int64_t BlockSize = 1048576;
    // The most bytes Decompress produces unless told otherwise.
    static constexpr int64_t DefaultMaxDecompressedSize = int64_t(1) << 30;

    // Bytes per vertex of an attribute in a packed attribute stream (positions,
    // normals, binormals and tangents 12, colours 4 as packed ARGB, texture
    // coordinates 8); 0 for a value outside the attributes.
    static int AttributeWidth(TVertexFormat AFormat);

    // Writes the attribute of every vertex of ABuffer into AStream at its
    // position, tightly packed, then rewinds the stream. The float colours are
    // written as the same packed colours as the byte colours. A value outside
    // the attributes, or no buffer, writes nothing (the stream is only rewound).
    static void SetSourceStream(TVertexFormat AFormat, const TVertexBuffer* ABuffer, TMemoryStream* AStream);
    static void SetSourceStream(const void* AData, int64_t ASize, TMemoryStream* AStream);
    // A new stream filled by SetSourceStream, at position 0; the caller owns it.
    static TMemoryStream* GetSourceStream(TVertexFormat AFormat, const TVertexBuffer* ABuffer);
    static TMemoryStream* GetSourceStream(const void* AData, int64_t ASize);

    // A new stream holding the zlib stream (maximum level) of the packed
    // attribute, positioned at its end; the caller owns it.
    static TMemoryStream* Compress(TVertexFormat AFormat, const TVertexBuffer* ABuffer);
    static TMemoryStream* Compress(const void* AData, int64_t ASize);
    // A new stream holding the inflated content of the zlib stream in AStream
    // (read from its position), at position 0; the caller owns it. Raises
    // EZDecompressionError for a corrupt or truncated stream and for one that
    // inflates to more than AMaxSize bytes.
    static TMemoryStream* Decompress(TStream* AStream, int64_t AMaxSize = DefaultMaxDecompressedSize);
};

} // namespace korvane
