#pragma once
// Internals shared by the source files of the GLSL node library: the text
// collector the nodes write their GLSL with, and the small lookups several
// nodes make. Not part of the library's interface.

#include <initializer_list>
#include <string>
#include <string_view>

#include "Korvane.Material.Default.Nodes.h"

namespace korvane::glsl {

// A value put in for the placeholder "${Name}" of a text block.
struct TArg {
    std::string_view Name;
    std::string_view Value;
};

// Appends AText to AOut as GLSL lines: a line break right at the start (the
// one after a raw string's opening) is dropped, every "\n" becomes CR LF, and
// every "${Name}" is replaced by the value of its argument. An unknown
// placeholder is a fault in the node library and throws.
void AppendBlock(std::string& AOut, std::string_view AText, std::initializer_list<TArg> AArgs = {});

// Collects GLSL lines ended by CR LF.
class TGLSLText {
public:
    // One statement indented by AIndent blanks.
    TGLSLText& L(std::string_view ALine, int AIndent = 2)
    {
        FText.append(static_cast<size_t>(AIndent), ' ');
        FText += ALine;
        FText += CRLF;
        return *this;
    }
    TGLSLText& Blank()
    {
        FText += CRLF;
        return *this;
    }
    // A block of lines written as a raw string; see AppendBlock.
    TGLSLText& Block(std::string_view AText, std::initializer_list<TArg> AArgs = {})
    {
        AppendBlock(FText, AText, AArgs);
        return *this;
    }
    std::string Take() { return std::move(FText); }

private:
    std::string FText;
};

// The prefix of a varying as the stage reads or writes it: "vars." when the
// varyings are one struct, nothing otherwise.
std::string_view VaryPrefix(const TKorvaneNodeBuilder* ABuilder);

// A varying with its prefix.
inline std::string Vary(const TKorvaneNodeBuilder* ABuilder, std::string_view AName)
{
    std::string text(VaryPrefix(ABuilder));
    text += AName;
    return text;
}

// The first tone-mapping define of the builder, or null.
const char* FirstToneMap(const TKorvaneNodeBuilder* ABuilder);

} // namespace korvane::glsl
