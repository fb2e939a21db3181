#pragma once
// The text writer of XML documents: the whole text is built in memory and
// reaches the stream in one flush, so a failed save leaves the stream as it was.

#include <cstdint>
#include <string>
#include <string_view>

#include "Platform.Classes.h"

namespace korvane {

class TStream;

class TMz_StreamWriter : public TObject {
public:
    // pStream is not owned. With pBeautify the writer keeps an indentation of
    // one TAB per level and ends lines with CR LF.
    TMz_StreamWriter(TStream* pStream, bool pBeautify);
    std::string ClassName() const override { return "TMz_StreamWriter"; }

    bool beautified() const { return fBeautified; }
    void setStream(TStream* pStream) { fStream = pStream; }
    // Appends the current indentation first when pIndent is true.
    void write(std::string_view pData, bool pIndent = false);
    void crlf() { fText.append("\r\n"); }
    void indent();
    void outdent();
    // Writes the built text as UTF-8 without a byte-order mark from the start
    // of the stream, in pieces of at most 1 MiB, and ends the stream there.
    void flush();

    // The text built so far.
    const std::string& text() const { return fText; }
    // The element nesting while a tree is written; the node writers keep it
    // so that a tree too deep to read back is refused.
    int depth() const { return fDepth; }
    void enter() { ++fDepth; }
    void leave() { --fDepth; }

private:
    bool fBeautified;
    std::string fIndent;
    TStream* fStream;
    std::string fText;
    int fDepth = 0;
};

} // namespace korvane
