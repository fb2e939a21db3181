#include "Korvane.Xml.Document.h"

#include <algorithm>
#include <cstring>

#include "Korvane.Xml.Parser.h"
#include "Korvane.Xml.Writer.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Streams.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TMz_XmlDocument, "Korvane.Xml.Document")

std::string MzXmlErrorMessage(const TMz_XmlDocument* pDocument, const std::string& pMessage, int64_t pPosition)
{
    std::string m = pMessage;
    m.append(" [\"");
    if (pDocument) m.append(pDocument->filename());
    m.append("\" at ").append(IntToStr(pPosition)).append("]");
    return m;
}

EMz_XmlParseError::EMz_XmlParseError(const TMz_XmlDocument* pDocument, TMz_StreamReader* pReader,
                                     const std::string& pMessage)
    : Exception(MzXmlErrorMessage(pDocument, pMessage, pReader ? pReader->position() : 0))
{
}

namespace {

// MzIsNameChar as a table.
struct TNameChars {
    bool Table[256];
    constexpr TNameChars() : Table()
    {
        for (int c = 0; c < 256; ++c) Table[c] = MzIsNameChar(static_cast<unsigned char>(c));
    }
    bool Has(unsigned char c) const { return Table[c]; }
};
constexpr TNameChars NameChars{};

} // namespace

// The recursive-descent parser. It recurses once per element level, and the
// levels are bounded by MaxDepth, so the stack it needs is bounded too.
class TMz_XmlParser {
public:
    TMz_XmlParser(TMz_XmlDocument& ADocument, TMz_StreamReader& AReader)
        : D(ADocument), R(AReader), T(AReader.text()), S(T.data()), Len(int64_t(T.size())), I(AReader.index())
    {
    }

    void Run() { Content(nullptr, 0); }

private:
    static constexpr int EOD = TMz_StreamReader::EndOfData;

    static bool IsBlank(int c) { return c == 8 || c == 9 || c == 10 || c == 13 || c == 32; }

    // Text may go into any node of the element class (the declaration too).
    static bool IsElement(const TMz_XmlNode* n) { return n && n->AsElement(); }
    // End tags and namespace declarations belong to elements proper: an end
    // tag naming the declaration would otherwise end the load early and drop
    // what follows, and the declaration keeps no namespaces when written.
    static bool IsTagElement(const TMz_XmlNode* n) { return n && n->kind() == mzDefault && IsElement(n); }

    int Read()
    {
        if (I < Len) return static_cast<unsigned char>(S[I++]);
        if (Len > 0) ++I;
        return EOD;
    }
    int Cur() const { return I < Len ? static_cast<unsigned char>(S[I]) : EOD; }

    [[noreturn]] void Fail(const std::string& AMessage)
    {
        R.setIndex(I);
        throw EMz_XmlParseError(&D, &R, AMessage);
    }

    // Names and values are views into the text, which the document keeps.
    std::string_view ReadToken()
    {
        int64_t i = I;
        while (i < Len && IsBlank(static_cast<unsigned char>(S[i]))) ++i;
        I = i;
        if (i >= Len || S[i] == '\0') return std::string_view();
        const int64_t start = i;
        if (!NameChars.Has(static_cast<unsigned char>(S[i]))) {
            I = i + 1;
            Fail("invalid character for token");
        }
        ++i;
        while (i < Len && NameChars.Has(static_cast<unsigned char>(S[i]))) ++i;
        I = i;
        return std::string_view(S + start, size_t(i - start));
    }

    // A name with an optional prefix: "prefix:name".
    void ReadQualified(std::string_view& APrefix, std::string_view& AName)
    {
        AName = ReadToken();
        if (Cur() == ':') {
            APrefix = AName;
            ++I;
            AName = ReadToken();
        }
    }

    // The text before the first ATerminator, the position left on it; empty
    // and the position at the end when there is none.
    std::string_view ScanTo(std::string_view ATerminator)
    {
        const size_t at = T.find(ATerminator, size_t(I));
        if (at == std::string_view::npos) {
            I = Len;
            return std::string_view();
        }
        const std::string_view s(S + I, at - size_t(I));
        I = int64_t(at);
        return s;
    }

    // "prefix:name" as one view of the text, when the text holds it so; not
    // when blanks follow the ":" (which the syntax allows): the node then
    // gets a name of its own.
    static bool Qualified(std::string_view APrefix, std::string_view AName, std::string_view& AQualified)
    {
        if (APrefix.empty()) {
            AQualified = AName;
            return true;
        }
        if (AName.data() != APrefix.data() + APrefix.size() + 1) return false;
        AQualified = std::string_view(APrefix.data(), APrefix.size() + 1 + AName.size());
        return true;
    }

    // Text read for a node: a node the parser made refers to the kept text,
    // a node from the hook gets a copy of its own.
    static void SetText(TMz_XmlNode* ANode, std::string_view AText)
    {
        if (ANode->fParsed) ANode->fValue.Refer(AText);
        else ANode->fValue.Assign(AText);
    }
    void AppendText(TMz_XmlNode* ANode, std::string_view AText)
    {
        if (ANode->fParsed && ANode->fValue.empty()) {
            ANode->fValue.Refer(AText);
        } else {
            if (ANode->fParsed) D.fPlainTree = false;
            ANode->fValue.Append(AText);
        }
    }

    void Expect(char AChar, const char* AMessage)
    {
        if (Read() != static_cast<unsigned char>(AChar)) Fail(AMessage);
    }

    // The node factory: the hook's node when it gives one, else an element of the kind.
    TMz_XmlNode* Make(TMz_XmlNode* AParent, std::string_view APrefix, std::string_view AName,
                      TMz_XmlNodeKind AKind, bool& AMadeHere)
    {
        TMz_XmlNode* node = nullptr;
        if (D.fOnCreateNode) {
            R.setIndex(I);
            D.fPlainTree = false;
            D.fOnCreateNode(&D, &R, AParent, std::string(APrefix), std::string(AName), AKind, node);
            I = R.index();
        }
        AMadeHere = node == nullptr;
        if (node) return node;
        TMz_XmlElement* parent = AParent ? AParent->AsElement() : nullptr;
        std::string_view qualified;
        TMz_XmlElement* e;
        if (Qualified(APrefix, AName, qualified)) {
            e = new (&D.fArena) TMz_XmlElement(TMz_XmlNode::TParsed{}, &D, parent, qualified, APrefix.size(), &D.fArena);
        } else {
            // A node with a name of its own is no longer the parser's plain kind.
            D.fPlainTree = false;
            e = new (&D.fArena) TMz_XmlElement(&D, parent, APrefix, AName);
        }
        // A parent that is no element keeps nothing but is still named as the parent.
        e->fParent = AParent;
        e->fKind = AKind;
        return e;
    }

    // A node the parser made that hangs under nothing stays with the document.
    void Keep(TMz_XmlNode* ANode, bool AMadeHere)
    {
        if (AMadeHere && !IsElement(ANode->parent())) D.KeepDetached(ANode);
    }

    bool Content(TMz_XmlNode* p, int ADepth)
    {
        for (;;) {
            // Blanks between tags, without storing the position at each.
            int64_t i = I;
            while (i < Len && IsBlank(static_cast<unsigned char>(S[i]))) ++i;
            I = i;
            const int c = Read();
            if (c == 0 || c == EOD) return false;
            if (c == '<') {
                if (Markup(p, ADepth)) return false;
                continue;
            }
            if (c == '>') Fail("invalid character \">\" found");
            if (!p) Fail("node values only allowed for element nodes");
            if (p->closed()) Fail("invalid character found");
            if (!IsElement(p)) Fail("node values only allowed for element nodes");
            --I;
            const int64_t start = I;
            I = TextRunEnd(start);
            // Trim blanks and other control characters at both ends.
            int64_t a = start, b = I;
            while (a < b && static_cast<unsigned char>(S[a]) <= ' ') ++a;
            while (b > a && static_cast<unsigned char>(S[b - 1]) <= ' ') --b;
            AppendText(p, std::string_view(S + a, size_t(b - a)));
        }
    }

    // The end of a text run: the first "<", ">" or NUL from AStart, or the end.
    int64_t TextRunEnd(int64_t AStart) const
    {
        // Most runs are short: a plain loop finds their end before three
        // library scans would have started.
        const int64_t near = std::min(Len, AStart + 64);
        for (int64_t i = AStart; i < near; ++i) {
            const char c = S[i];
            if (c == '<' || c == '>' || c == '\0') return i;
        }
        if (near == Len) return Len;
        const char* from = S + near;
        size_t n = size_t(Len - near);
        if (const void* lt = std::memchr(from, '<', n)) n = size_t(static_cast<const char*>(lt) - from);
        if (const void* gt = std::memchr(from, '>', n)) n = size_t(static_cast<const char*>(gt) - from);
        if (const void* nul = std::memchr(from, '\0', n)) n = size_t(static_cast<const char*>(nul) - from);
        return near + int64_t(n);
    }

    bool Markup(TMz_XmlNode* p, int ADepth)
    {
        ++D.fNodeCount;
        const int c = Read();
        if (c == '/') {
            if (!IsTagElement(p)) Fail("parent node is not a xml element");
            std::string_view prefix, name;
            ReadQualified(prefix, name);
            if (p->namespace_() != prefix || p->name() != name)
                Fail(Format("failed to close tag \"%s\" - closing tag \"%s\" found instead", p->name(), name));
            if (Read() != '>') Fail(Format("invalid character in closing tag %s", name));
            p->fClosed = true;
            return true;
        }
        if (c == 0 || c == EOD) return false;
        if (c == '!') {
            const int d = Read();
            if (d == '-') {
                Expect('-', "\"<!--\" expected for valid comment, but \"<!-\" found");
                Section(p, "COMMENT", mzComment, "-->");
            } else if (d == '[') {
                if (ReadToken() != "CDATA") Fail("invalid character - \"CDATA[\" expected behind \"<![\"");
                Expect('[', "invalid character - \"[\" expected behind \"<![CDATA\"");
                Section(p, "CDATA", mzData, "]]>");
            } else if (d == 'D' || d == 'd') {
                // "D" and the name after it make "DOCTYPE" in any letter case.
                if (!SameText(ReadToken(), "OCTYPE"))
                    Fail("\"<!DOCTYPE\" expected for valid doctype-definition, but \"<!D?\" found");
                Section(p, "DOCTYPE", mzDocType, ">");
            } else if (d >= 0xC0) {
                // The dropped character is dropped whole, not just its first byte.
                while (I < Len && (static_cast<unsigned char>(S[I]) & 0xC0) == 0x80) ++I;
            }
            return false;
        }
        if (c == '?') {
            const std::string_view name = ReadToken();
            if (Cur() == ':') Fail("namespace declaration not allowed for xml core node");
            if (name != "xml" && name != "xml-stylesheet") Fail("xml header expected");
            if (D.root()) Fail("xml header already exist");
            bool made;
            TMz_XmlNode* root = Make(nullptr, std::string_view(), name, name == "xml" ? mzDocument : mzStylesheet, made);
            D.AdoptRoot(root);
            Attributes(root);
            // Whatever follows the declaration is its content, also after a
            // declaration closed with "/>": nothing after it goes unread.
            Content(root, 0);
            return true;
        }
        --I;
        std::string_view prefix, name;
        ReadQualified(prefix, name);
        if (name.empty()) {
            if (prefix.empty()) Fail("invalid char in tag name");
            Fail(Format("incomplete namespace declaration \"%s\" for tag name", prefix));
        }
        if (ADepth >= TMz_XmlDocument::MaxDepth)
            Fail(Format("nesting too deep - more than %d levels of elements", TMz_XmlDocument::MaxDepth));
        bool made;
        TMz_XmlNode* node = Make(p, prefix, name, mzDefault, made);
        Keep(node, made);
        if (Attributes(node)) Content(node, ADepth + 1);
        if (!prefix.empty() && !node->defined(prefix))
            Fail(Format("namespace \"%s\" not defined for tag \"%s\"", prefix, name));
        if (!node->closed()) Fail(Format("tag \"%s\" not closed", node->getQualifiedName()));
        return false;
    }

    // A comment, CDATA section or DOCTYPE: its text up to the terminator,
    // which must follow character by character.
    void Section(TMz_XmlNode* p, const char* AName, TMz_XmlNodeKind AKind, std::string_view ATerminator)
    {
        bool made;
        TMz_XmlNode* node = Make(p, std::string_view(), AName, AKind, made);
        Keep(node, made);
        SetText(node, ScanTo(ATerminator));
        for (char t : ATerminator)
            Expect(t, t == '>' ? "invalid character found - \">\" expected"
                      : t == '-' ? "invalid character found - \"-\" expected"
                                 : "invalid character found - \"]\" expected");
        node->fClosed = true;
    }

    bool Attributes(TMz_XmlNode* n)
    {
        while (I < Len) {
            int64_t i = I;
            while (i < Len && IsBlank(static_cast<unsigned char>(S[i]))) ++i;
            I = i;
            if (I >= Len) break;
            const int c = Read();
            if (c == 0) Fail("unexpected end of data (#0)");
            if (c == '/') {
                n->fClosed = true;
                if (Read() != '>') Fail("\">\" expected behind \"/\"");
                return false;
            }
            if (c == '>') return true;
            if (c == '?') {
                if (n->kind() != mzDocument && n->kind() != mzStylesheet)
                    Fail("invalid charater \"?\" - only allowed for xml header tag");
                if (Read() != '>') Fail("invalid charater - \">\" expected behind \"?\"");
                return true;
            }
            --I;
            std::string_view prefix, name;
            ReadQualified(prefix, name);
            if (name.empty()) {
                if (prefix.empty()) Fail("missing attribute name - invalid character found");
                Fail(Format("incomplete namespace declaration \"%s\" for attribute name", prefix));
            }
            if (prefix == "xmlns") {
                if (!IsTagElement(n))
                    Fail("failed to define namespace in none element node \"" + n->getQualifiedName() + "\"");
                auto* ns = new (&D.fArena) TMz_XmlNamespace(TMz_XmlNode::TParsed{}, &D, n->AsElement(), name);
                Value(ns, true);
                continue;
            }
            Attribute(n, prefix, name);
        }
        return false;
    }

    void Attribute(TMz_XmlNode* n, std::string_view APrefix, std::string_view AName)
    {
        TMz_XmlNode* attr = nullptr;
        if (D.fOnCreateNode) {
            R.setIndex(I);
            D.fPlainTree = false;
            D.fOnCreateNode(&D, &R, n, std::string(APrefix), std::string(AName), mzAttribute, attr);
            I = R.index();
        }
        const bool made = attr == nullptr;
        if (made) {
            if (TMz_XmlElement* e = n->AsElement()) {
                std::string_view qualified;
                if (Qualified(APrefix, AName, qualified)) {
                    attr = new (&D.fArena)
                        TMz_XmlAttribute(TMz_XmlNode::TParsed{}, &D, e, qualified, APrefix.size(), &D.fArena);
                } else {
                    D.fPlainTree = false;
                    attr = new (&D.fArena) TMz_XmlAttribute(&D, e, APrefix, AName);
                }
            } else {
                D.fPlainTree = false;
                attr = new (&D.fArena) TMz_XmlAttribute(&D, n, APrefix, AName);
                Keep(attr, true);
            }
        }
        try {
            if (made) Value(attr, false);
            if (!APrefix.empty() && !attr->defined(APrefix))
                Fail(Format("namespace \"%s\" not defined for attribute \"%s\"", APrefix, AName));
        } catch (...) {
            // The element drops the attribute that failed.
            const TMz_XmlElement* e = n->AsElement();
            if (e && e->attributes().Find(attr->getQualifiedName()) == attr) attr->Free();
            throw;
        }
    }

    void Value(TMz_XmlNode* a, bool ANamespace)
    {
        while (I < Len) {
            const int c = Read();
            if (c == 0) Fail("unexpected end of data (#0)");
            if (IsBlank(c)) continue;
            if (c == '/' || c == '>') {
                --I;
                return;
            }
            if (c == '=') {
                SetText(a, ReadQuoted());
                return;
            }
            Fail(Format(ANamespace ? "invalid character while parsing namespace \"%s\""
                                   : "invalid character while parsing attribute \"%s\"",
                        a->getQualifiedName()));
        }
    }

    std::string_view ReadQuoted()
    {
        while (I < Len && IsBlank(static_cast<unsigned char>(S[I]))) ++I;
        if (Cur() == 0) return std::string_view();
        const int q = Read();
        if (q != '"' && q != '\'') Fail("invalid character");
        const void* close = std::memchr(S + I, q, size_t(Len - I));
        if (!close) {
            I = Len;
            return std::string_view();
        }
        const int64_t stop = static_cast<const char*>(close) - S;
        const std::string_view v(S + I, size_t(stop - I));
        I = stop + 1;
        return v;
    }

    TMz_XmlDocument& D;
    TMz_StreamReader& R;
    std::string_view T;
    const char* S;
    int64_t Len;
    int64_t I;
};

// ---- TMz_XmlDocument ----

TMz_XmlDocument::TMz_XmlDocument() = default;

void TMz_XmlDocument::BeforeDestruction()
{
    if (fPlainTree && !fArena.Overflowed()) {
        // Nothing in the tree holds anything but arena memory, and no node of
        // it lives anywhere else: the tree goes with the arena's blocks,
        // without a visit to each node.
        (void)fRoot.release();
        for (auto& d : fDetached) (void)d.release();
        fDetached.clear();
        fArena.ReleaseAll();
    }
    fRoot.reset();
    fDetached.clear();
    fTexts.clear();
    inherited::BeforeDestruction();
}

void TMz_XmlDocument::setRoot(TMz_XmlNode* pRoot)
{
    if (pRoot == fRoot.get()) return;
    fPlainTree = false;
    AdoptRoot(pRoot);
}

void TMz_XmlDocument::AdoptRoot(TMz_XmlNode* pRoot)
{
    if (pRoot == fRoot.get()) return;
    if (pRoot) ReleaseDetached(pRoot);
    fRoot.reset(pRoot);
}

void TMz_XmlDocument::KeepDetached(TMz_XmlNode* pNode) { fDetached.emplace_back(pNode); }

void TMz_XmlDocument::ReleaseDetached(TMz_XmlNode* pNode)
{
    const auto it = std::find_if(fDetached.begin(), fDetached.end(), [&](const auto& o) { return o.get() == pNode; });
    if (it == fDetached.end()) return;
    (void)it->release();
    fDetached.erase(it);
}

TMz_XmlValue TMz_XmlDocument::StringToValue(std::string_view pData) const
{
    return MzStringToValue(pData, fFormat);
}

void TMz_XmlDocument::Parse(TMz_StreamReader& pReader)
{
    // The nodes the parser makes refer to the text rather than copy it.
    if (std::shared_ptr<const void> text = pReader.TakeText()) fTexts.push_back(std::move(text));
    TMz_XmlParser parser(*this, pReader);
    parser.Run();
}

void TMz_XmlDocument::loadFromStream(TStream* pStream)
{
    TMz_StreamReader reader(pStream, meUTF8, true, TMz_StreamReader::DefaultBufferSize);
    pStream->SetPosition(0);
    Parse(reader);
}

void TMz_XmlDocument::loadFromString(const std::string& pData)
{
    TMz_StreamReader reader(std::string_view(pData), meUTF8, false, false);
    Parse(reader);
}

void TMz_XmlDocument::loadFromBytes(const std::vector<uint8_t>& pData)
{
    TMz_StreamReader reader(std::string_view(reinterpret_cast<const char*>(pData.data()), pData.size()), meUTF8,
                            true, false);
    Parse(reader);
}

void TMz_XmlDocument::loadFromFile(const std::string& pFilename)
{
    setFilename(pFilename);
    TMz_StreamReader reader(pFilename);
    Parse(reader);
}

void TMz_XmlDocument::saveToStream(TStream* pStream, bool pBeautify)
{
    if (!pStream || !fRoot) return;
    TMz_StreamWriter writer(pStream, pBeautify);
    fRoot->toStream(writer);
    writer.flush();
}

std::string TMz_XmlDocument::saveToString(bool pBeautify)
{
    if (!fRoot) return std::string();
    TMz_StreamWriter writer(nullptr, pBeautify);
    fRoot->toStream(writer);
    return writer.text();
}

std::vector<uint8_t> TMz_XmlDocument::saveToBytes(bool pBeautify)
{
    const std::string text = saveToString(pBeautify);
    return std::vector<uint8_t>(text.begin(), text.end());
}

void TMz_XmlDocument::saveToFile(const std::string& pFilename, bool pBeautify)
{
    setFilename(pFilename);
    // The text is built before the file is touched, so a document that cannot
    // be stored leaves an existing file as it was.
    TMz_StreamWriter writer(nullptr, pBeautify);
    if (fRoot) fRoot->toStream(writer);
    TFileStream file(pFilename, fmCreate);
    writer.setStream(&file);
    writer.flush();
}

} // namespace korvane
