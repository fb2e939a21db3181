#pragma once
// The XML document: its root node, the parser that builds the tree from text,
// the save operations, and the errors of both.
//
// Files are written one construct per line, one TAB per level, CR LF line
// ends, UTF-8 without a byte-order mark; nothing is escaped and nothing is
// decoded. Values a file of that form cannot carry are written in another
// form that reads back the same (an attribute value with a double quote in
// single quotes) or refused with EMz_XmlStoringError naming the node.
//
// The parser treats its input as hostile: elements nest at most MaxDepth
// levels, the input is at most 1 GiB, and every failure is an
// EMz_XmlParseError "message ["file" at position]" with the position in
// UTF-16 characters.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Korvane.Xml.Node.h"
#include "Platform.Classes.h"
#include "Platform.SysUtils.h"

namespace korvane {

class TStream;
class TMz_StreamReader;

// "message ["file" at position]".
std::string MzXmlErrorMessage(const TMz_XmlDocument* pDocument, const std::string& pMessage, int64_t pPosition);

class EMz_XmlStoringError : public Exception {
public:
    // Position 0, the document's file name.
    EMz_XmlStoringError(const TMz_XmlDocument* pDocument, const std::string& pMessage)
        : Exception(MzXmlErrorMessage(pDocument, pMessage, 0)) {}
    template <typename... Args>
    static EMz_XmlStoringError Fmt(const TMz_XmlDocument* pDocument, std::string_view pFormat, const Args&... pArgs)
    {
        return EMz_XmlStoringError(pDocument, Format(pFormat, pArgs...));
    }
};

class EMz_XmlParseError : public Exception {
public:
    // The reader's position when a reader is given, else 0.
    EMz_XmlParseError(const TMz_XmlDocument* pDocument, TMz_StreamReader* pReader, const std::string& pMessage);
    template <typename... Args>
    static EMz_XmlParseError Fmt(const TMz_XmlDocument* pDocument, TMz_StreamReader* pReader,
                                 std::string_view pFormat, const Args&... pArgs)
    {
        return EMz_XmlParseError(pDocument, pReader, Format(pFormat, pArgs...));
    }
};

// The node-factory hook of the parser: called for every node it is about to
// make except namespace declarations (pCurrent: the node the new one will
// hang under, nil at the top). A node put in pNode is used unchanged (the
// parser sets neither its kind nor its parent); nil lets the parser make its
// own. A node that the hook returns and attaches nowhere stays the hook's,
// except a declaration, which becomes the document's root.
using TMz_OnCreateNode =
    std::function<void(TMz_XmlDocument* pSender, TMz_StreamReader* pStream, TMz_XmlNode* pCurrent,
                       const std::string& pNamespace, const std::string& pName, TMz_XmlNodeKind pKind,
                       TMz_XmlNode*& pNode)>;

class TMz_XmlDocument : public TPersistent {
    KORVANE_CLASS(TMz_XmlDocument, TPersistent)

    // How deep elements may nest, in reading and in writing.
    static constexpr int MaxDepth = 256;

    TMz_XmlDocument();

    int token_buffer_size() const { return fTokenBufferSize; }
    void setToken_buffer_size(int pValue) { fTokenBufferSize = pValue; }
    const TFormatSettings& format() const { return fFormat; }
    void setFormat(const TFormatSettings& pValue) { fFormat = pValue; }
    const std::string& filename() const { return fFilename; }
    void setFilename(std::string pValue) { fFilename = std::move(pValue); }
    int node_count() const { return fNodeCount; }
    // The document owns its root and, through it, the whole tree; setting
    // another root frees the former one.
    TMz_XmlNode* root() const { return fRoot.get(); }
    void setRoot(TMz_XmlNode* pRoot);
    const TMz_OnCreateNode& onCreateNode() const { return fOnCreateNode; }
    void setOnCreateNode(TMz_OnCreateNode pValue) { fOnCreateNode = std::move(pValue); }

    // Text classified as empty, integer, Double, Boolean or text, numbers in the document's format.
    TMz_XmlValue StringToValue(std::string_view pData) const;

    // Loading adds to the document: a second declaration fails with "xml header already exist".
    virtual void loadFromStream(TStream* pStream);
    virtual void loadFromString(const std::string& pData);
    virtual void loadFromBytes(const std::vector<uint8_t>& pData);
    virtual void loadFromFile(const std::string& pFilename);
    // Nothing when the stream or the root is missing. The stream ends where the document does.
    virtual void saveToStream(TStream* pStream, bool pBeautify);
    virtual std::string saveToString(bool pBeautify);
    virtual std::vector<uint8_t> saveToBytes(bool pBeautify);
    virtual void saveToFile(const std::string& pFilename, bool pBeautify);

protected:
    void BeforeDestruction() override;

private:
    friend class TMz_XmlParser;
    friend class TMz_XmlNode;
    friend class TMz_XmlElement;
    friend class TMz_XmlAttribute;
    friend class TMz_XmlNamespace;
    void Parse(TMz_StreamReader& pReader);
    // Keeps a node the parser made that hangs under nothing (elements before
    // the declaration) until the document goes.
    void KeepDetached(TMz_XmlNode* pNode);
    // Hands a kept node over to whoever attaches it elsewhere.
    void ReleaseDetached(TMz_XmlNode* pNode);
    void AdoptRoot(TMz_XmlNode* pRoot);

    int fTokenBufferSize = 16;
    TFormatSettings fFormat;
    std::string fFilename;
    int fNodeCount = 0;
    TOwned<TMz_XmlNode> fRoot;
    // True while every node this document holds is one its parser made and
    // nobody changed: no node holds memory outside the arena, and none lives
    // outside the tree. Such a tree goes with the arena, node by node unvisited.
    bool fPlainTree = true;
    TMz_OnCreateNode fOnCreateNode;
    std::vector<TOwned<TMz_XmlNode>> fDetached;
    // The memory of the nodes the parser makes (a block goes with its last node).
    TMz_XmlNodeArena fArena;
    // The texts loaded: names and values the parser read refer into them
    // until they are changed or their node is moved to another element.
    std::vector<std::shared_ptr<const void>> fTexts;
};

} // namespace korvane
