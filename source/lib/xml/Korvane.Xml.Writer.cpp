#include "Korvane.Xml.Writer.h"

#include <algorithm>

#include "Platform.Streams.h"

namespace korvane {

TMz_StreamWriter::TMz_StreamWriter(TStream* pStream, bool pBeautify) : fBeautified(pBeautify), fStream(pStream) {}

void TMz_StreamWriter::write(std::string_view pData, bool pIndent)
{
    if (pIndent) fText.append(fIndent);
    fText.append(pData);
}

void TMz_StreamWriter::indent()
{
    if (fBeautified) fIndent.push_back('\t');
}

void TMz_StreamWriter::outdent()
{
    if (fBeautified && !fIndent.empty()) fIndent.pop_back();
}

void TMz_StreamWriter::flush()
{
    if (!fStream) return;
    constexpr size_t Piece = 1048576;
    fStream->SetPosition(0);
    for (size_t at = 0; at < fText.size(); at += Piece)
        fStream->WriteBuffer(fText.data() + at, int64_t(std::min(Piece, fText.size() - at)));
    // Older, longer contents would otherwise trail behind the document.
    fStream->SetSize(int64_t(fText.size()));
}

} // namespace korvane
