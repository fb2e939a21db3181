#pragma once
// Form resources: the text form of a component tree, and the program's
// embedded files.
//
// The text form nests "object Name: TClass ... end" blocks; inside a block,
// "Prop = value" and "A.B = value" lines set properties in stream order.
// Values are numbers (decimal, "$" hexadecimal, with fraction and exponent),
// 'strings' ('' is a quote, #13 a character by code, parts joined with +),
// identifiers (True/False, enumeration values, component references, method
// names for events, colour names), sets "[a, b]", string lists "('a' 'b')",
// collections "< item ... end item ... end >", inline binary data "{ hex }" and
// embedded files "file 'name'" (binary data of the program's embedded files).
// Binary data sets bitmap properties (any image the bitmap can decode).
//
// Reading creates each component by its registered class with the root as
// owner and the enclosing component as parent, sets properties in stream order,
// resolves component references once the whole tree is there, binds events to
// the root class's published methods, then calls Loaded on every component
// read (the root last). Failures raise EFormReadError naming the offending
// class, property, value or method and the line. The writer gives text that
// reads back to the same tree.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "Platform.Classes.h"

namespace korvane {

class EFormReadError : public EFilerError {
public:
    EFormReadError(const std::string& AMessage, int ALine);
    int Line() const { return FLine; }

private:
    int FLine;
};

// Limits that keep a hostile text from exhausting the program.
inline constexpr size_t MaxFormResourceBytes = size_t(64) << 20;
inline constexpr int MaxFormNesting = 128;

// Reads a form text into ARoot, whose class must be the text's root class (or
// one derived from it). Components are created owned by ARoot.
void ReadComponentResource(TComponent* ARoot, std::string_view AText);
// The text form of ARoot and every component it owns.
std::string WriteComponentResource(const TComponent* ARoot);

// The program's embedded files, by name (letter case ignored). Registering a
// name again replaces it. The data must live as long as the program.
void RegisterResource(const std::string& AName, std::span<const uint8_t> AData);
// Raises EResNotFound "Resource %s not found" when there is none.
std::span<const uint8_t> FindResource(std::string_view AName);
bool HasResource(std::string_view AName);

class EResNotFound : public Exception {
    using Exception::Exception;
};

// The form text registered for a form class ("TForm2" finds the embedded file
// "TForm2.form"); empty when there is none.
std::string_view FormResourceFor(std::string_view AClassName);

} // namespace korvane
