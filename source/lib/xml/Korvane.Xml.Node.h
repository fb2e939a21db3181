#pragma once
// The XML document model: a tree of nodes that are all elements of one class
// told apart by a node kind, with attributes and namespace declarations kept
// per element, and a typed view of every node's text.
//
// Ownership: an element owns its children, its attributes and its namespace
// declarations. Constructing a node with an element as parent attaches it
// there (children in order, attributes and namespaces by qualified name).
// Freeing a node detaches it from its parent first, so a node may be freed on
// its own. An attribute or namespace node that a newer one of the same name
// replaces, or that removeAttribute / removeNamespace takes out, stays owned
// by the element (and valid) until the element goes; never free it yourself.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Platform.Classes.h"
#include "Platform.SysUtils.h"

namespace korvane {

class TMz_XmlDocument;
class TMz_StreamWriter;
class TMz_XmlElement;
class TMz_XmlAttribute;
class TMz_XmlNamespace;

// Block memory for the nodes one parse makes: allocation is a pointer bump,
// and a block is released when every node in it is gone and the arena has
// moved on (or been destroyed). Used by one thread at a time, like its document.
class TMz_XmlNodeArena {
public:
    TMz_XmlNodeArena() = default;
    TMz_XmlNodeArena(const TMz_XmlNodeArena&) = delete;
    TMz_XmlNodeArena& operator=(const TMz_XmlNodeArena&) = delete;
    ~TMz_XmlNodeArena();
    struct TBlock;
    void* Allocate(size_t ASize);

private:
    TBlock* FCurrent = nullptr;
    size_t FUsed = 0;
};

enum TMz_XmlNodeKind : uint8_t {
    mzDefault,    // an element
    mzDocument,   // the XML declaration "<?xml ...?>"
    mzDocType,    // a DOCTYPE declaration
    mzStylesheet, // the processing instruction "xml-stylesheet"
    mzData,       // a CDATA section
    mzComment,
    mzAttribute,
    mzNamespace
};

// The typed value of a node's text: empty, a 32-bit integer, a Double, a
// Boolean or text. Reading it as another kind than it holds raises EInvalidCast,
// except that an integer reads as a floating-point number.
class TMz_XmlValue {
public:
    enum TKind : uint8_t { vkEmpty, vkInteger, vkDouble, vkBoolean, vkString };

    TMz_XmlValue() = default;
    static TMz_XmlValue FromInteger(int32_t AValue);
    static TMz_XmlValue FromDouble(double AValue);
    // A Single is kept widened to Double: its text shows the widening error.
    static TMz_XmlValue FromSingle(float AValue) { return FromDouble(double(AValue)); }
    static TMz_XmlValue FromBoolean(bool AValue);
    static TMz_XmlValue FromString(std::string AValue);

    TKind Kind() const { return FKind; }
    bool IsEmpty() const { return FKind == vkEmpty; }

    // Empty reads as 0, false or ""; any other kind mismatch raises EInvalidCast.
    int32_t AsInteger() const;
    double AsDouble() const;
    bool AsBoolean() const;
    const std::string& AsString() const;

    // The display text: integers in decimal, "True"/"False", floats in the
    // "en-US" general form with 15 digits, text unchanged, "" when empty.
    std::string DisplayText() const;

    bool operator==(const TMz_XmlValue&) const = default;

private:
    TKind FKind = vkEmpty;
    int32_t FInteger = 0;
    double FDouble = 0;
    bool FBoolean = false;
    std::string FString;
};

// The children of an element, in order.
class TMz_XmlNodes {
public:
    using TList = std::vector<TMz_XmlElement*>;
    TList::const_iterator begin() const { return FItems.begin(); }
    TList::const_iterator end() const { return FItems.end(); }
    // The enumerator of the list (the list itself iterates too).
    const TList& GetEnumerator() const { return FItems; }
    int Count() const { return int(FItems.size()); }
    TMz_XmlElement* operator[](int AIndex) const { return FItems.at(size_t(AIndex)); }

private:
    friend class TMz_XmlElement;
    TList FItems;
};

class TMz_XmlNode : public TPersistent {
    KORVANE_CLASS(TMz_XmlNode, TPersistent)

    TMz_XmlNode(TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string pNamespace, std::string pName);

    TMz_XmlDocument* document() const { return fDocument; }
    TMz_XmlNode* parent() const { return fParent; }
    void setParent(TMz_XmlNode* pParent) { fParent = pParent; }
    TMz_XmlNodeKind kind() const { return fKind; }
    void setKind(TMz_XmlNodeKind pKind) { fKind = pKind; }
    // The namespace prefix ("" for none).
    const std::string& namespace_() const { return fNamespace; }
    void setNamespace(std::string pNamespace) { fNamespace = std::move(pNamespace); }
    const std::string& name() const { return fName; }
    void setName(std::string pName) { fName = std::move(pName); }
    bool closed() const { return fClosed; }
    void setClosed(bool pClosed) { fClosed = pClosed; }

    // The raw text classified by the document (text when there is no document).
    virtual TMz_XmlValue value() const;
    // The raw text becomes the text form of the value, floats in the document's format.
    virtual void setValue(const TMz_XmlValue& pValue);
    virtual const std::string& getRawValue() const { return fValue; }
    virtual void setRawValue(std::string pValue) { fValue = std::move(pValue); }
    // "prefix:name", or the name alone without a prefix.
    virtual std::string getQualifiedName() const;
    bool equals(std::string_view pNamespace, std::string_view pName) const
    {
        return fNamespace == pNamespace && fName == pName;
    }
    // True when the prefix is declared for this node (a plain node asks its parent).
    virtual bool defined(std::string_view pNamespace) const;
    virtual void toStream(TMz_StreamWriter& pWriter) const = 0;
    // This node as an element, nil when it is none (cheaper than a cast).
    virtual TMz_XmlElement* AsElement() { return nullptr; }
    const TMz_XmlElement* AsElement() const { return const_cast<TMz_XmlNode*>(this)->AsElement(); }

    // Nodes are allocated with a small header that says where their memory
    // comes from: the heap, or the node arena of the document that parsed
    // them (new (arena) T(...)). An arena block goes when its last node does.
    static void* operator new(size_t ASize);
    static void* operator new(size_t ASize, TMz_XmlNodeArena* AArena);
    static void operator delete(void* APtr, size_t ASize);
    static void operator delete(void* APtr, TMz_XmlNodeArena* AArena);

protected:
    void BeforeDestruction() override;
    friend class TMz_XmlDocument;
    friend class TMz_XmlElement;
    friend class TMz_XmlParser;

    TMz_XmlDocument* fDocument;
    TMz_XmlNode* fParent;
    TMz_XmlNodeKind fKind = mzDefault;
    std::string fNamespace;
    std::string fName;
    std::string fValue;
    bool fClosed = false;
};

// A list of attribute or namespace nodes in the order they were entered,
// looked up by qualified name (hashed once it grows beyond a few entries).
template <class TNode>
class TMz_XmlNodeMap {
public:
    using TList = std::vector<TNode*>;
    typename TList::const_iterator begin() const { return FItems.begin(); }
    typename TList::const_iterator end() const { return FItems.end(); }
    int Count() const { return int(FItems.size()); }
    TNode* Find(std::string_view AKey) const;

private:
    friend class TMz_XmlElement;
    friend class TMz_XmlAttribute;
    friend class TMz_XmlNamespace;
    // Enters ANode under AKey; answers the node it replaced (nil when none).
    TNode* Put(const std::string& AKey, TNode* ANode);
    // Takes the entry of AKey out when it holds ANode (any node when nil); answers the node taken.
    TNode* Take(std::string_view AKey, TNode* ANode);
    void Clear()
    {
        FItems.clear();
        FIndex.reset();
    }
    int IndexOf(std::string_view AKey) const;
    void Reindex();

    // Entries are keyed by their nodes' qualified names.
    static constexpr size_t HashFrom = 8;
    TList FItems;
    std::unique_ptr<std::unordered_map<std::string, int>> FIndex;
};

using TMz_XmlAttributes = TMz_XmlNodeMap<TMz_XmlAttribute>;
using TMz_XmlNamespaces = TMz_XmlNodeMap<TMz_XmlNamespace>;

class TMz_XmlElement : public TMz_XmlNode {
    KORVANE_CLASS(TMz_XmlElement, TMz_XmlNode)

    // Appends itself to the children of pParent when that is an element.
    TMz_XmlElement(TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string pNamespace, std::string pName);

    // The child list; nil until the first child, and again after clear().
    const TMz_XmlNodes* nodes() const { return fHasNodes ? &fNodes : nullptr; }
    const TMz_XmlAttributes& attributes() const { return fAttributes; }
    const TMz_XmlNamespaces& namespaces() const;

    // Appends pNode (taking it from another element first). Raises
    // EInvalidOperation when pNode is this element or one of its ancestors.
    virtual void add(TMz_XmlElement* pNode);
    // Takes pNode out of the children and frees it; nothing when it is not a child.
    virtual void remove(TMz_XmlElement* pNode);
    // Frees every child and drops the child list.
    virtual void clear();
    // The first child of that local name (prefix not compared), else nil.
    virtual TMz_XmlElement* find(std::string_view pTagname) const;
    // The first child that is an instance of the class, else nil.
    virtual TMz_XmlElement* find(TClass pClass) const;
    // The nearest ancestor of the class / of the local name; the search stops
    // with nil at the top or at an ancestor that is not an element.
    TMz_XmlElement* searchUpwardsForNode(TClass pClass) const;
    TMz_XmlElement* searchUpwardsForNode(std::string_view pTagName) const;

    // Enters the attribute under its qualified name.
    virtual void addAttribute(TMz_XmlAttribute* pAttr);
    // The attribute stored under exactly pAttr, or a new one of that local
    // name (not split at ":"), gets the typed value.
    virtual TMz_XmlAttribute* addAttribute(const std::string& pAttr, const TMz_XmlValue& pValue);
    virtual TMz_XmlAttribute* addAttribute(const std::string& pAttr, const std::string& pValue);
    TMz_XmlAttribute* addAttribute(const std::string& pAttr, const char* pValue)
    {
        return addAttribute(pAttr, std::string(pValue));
    }
    virtual TMz_XmlAttribute* addAttribute(const std::string& pAttr, int32_t pValue);
    virtual TMz_XmlAttribute* addAttribute(const std::string& pAttr, bool pValue);
    virtual TMz_XmlAttribute* addAttribute(const std::string& pAttr, double pValue);
    virtual TMz_XmlAttribute* addAttribute(const std::string& pAttr, float pValue);

    // Typed reads; each answers whether the attribute exists. A kind that
    // does not convert raises EInvalidCast (see TMz_XmlValue); the Double
    // read also parses text, with the document's format and then with ","
    // taken for ".", and answers false when neither parse succeeds.
    virtual bool getAttribute(std::string_view pAttr, TMz_XmlValue& pValue) const;
    virtual bool getAttribute(std::string_view pAttr, std::string& pValue) const;
    virtual bool getAttribute(std::string_view pAttr, int32_t& pValue) const;
    virtual bool getAttribute(std::string_view pAttr, bool& pValue) const;
    virtual bool getAttribute(std::string_view pAttr, double& pValue) const;
    virtual bool getAttribute(std::string_view pAttr, float& pValue) const;

    // Takes the attribute's entry out of the map (the element keeps owning it).
    virtual void removeAttribute(TMz_XmlAttribute* pAttr);
    virtual void clearAttributes();
    virtual void addNamespace(TMz_XmlNamespace* pNamespace);
    virtual void removeNamespace(TMz_XmlNamespace* pNamespace);
    virtual void clearNamespaces();

    // The indexed properties. attribute(): "" when missing, else the display
    // text of the typed value. setAttribute(): the text's typed value ("007"
    // is stored "7"); a new name with ":" is split into prefix and local name
    // (raising EMz_XmlParseError when it has fewer than two parts).
    std::string attribute(std::string_view pName) const;
    void setAttribute(const std::string& pName, const std::string& pValue);
    std::string attribute_raw(std::string_view pName) const;
    void setAttribute_raw(const std::string& pName, const std::string& pValue);
    using TMz_XmlNode::namespace_;
    // The namespace declared on this element for the prefix (ancestors not searched), else nil.
    TMz_XmlNamespace* namespace_(std::string_view pPrefix) const;

    bool defined(std::string_view pNamespace) const override;
    void toStream(TMz_StreamWriter& pWriter) const override;
    TMz_XmlElement* AsElement() override { return this; }
    using TMz_XmlNode::AsElement;

protected:
    void BeforeDestruction() override;

private:
    friend class TMz_XmlNode;
    friend class TMz_XmlAttribute;
    friend class TMz_XmlNamespace;
    friend class TMz_XmlDocument;
    void AppendChild(TMz_XmlElement* pNode);
    static void FreeElements(std::vector<TMz_XmlElement*> AWork);
    void DetachChild(TMz_XmlNode* pNode);
    // Keeps a node that left a map alive until the element goes.
    void Retire(TMz_XmlNode* pNode);
    TMz_XmlAttribute* NewAttribute(const std::string& pName);
    void WriteAttributes(TMz_StreamWriter& pWriter) const;

    TMz_XmlNodes fNodes;
    bool fHasNodes = false;
    TMz_XmlAttributes fAttributes;
    std::unique_ptr<TMz_XmlNamespaces> fNamespaces;
    std::vector<TMz_XmlNode*> fRetired;
};

class TMz_XmlAttribute : public TMz_XmlNode {
    KORVANE_CLASS(TMz_XmlAttribute, TMz_XmlNode)

    // Enters itself in the attribute map of pParent when that is an element.
    TMz_XmlAttribute(TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string pNamespace, std::string pName);

    bool defined(std::string_view pNamespace) const override;
    void toStream(TMz_StreamWriter& pWriter) const override;

protected:
    // For TMz_XmlNamespace: sets the kind and attaches nowhere.
    struct TUnattached {};
    TMz_XmlAttribute(TUnattached, TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string pNamespace,
                     std::string pName);
};

// A namespace declaration: the declared prefix is its name, the URI its value.
class TMz_XmlNamespace : public TMz_XmlAttribute {
    KORVANE_CLASS(TMz_XmlNamespace, TMz_XmlAttribute)

    // Enters itself in the namespace map of pParent when that is an element.
    TMz_XmlNamespace(TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string pNamespace, std::string pName);

    bool defined(std::string_view pNamespace) const override { return name() == pNamespace; }
    // Writes the declaration as ` xmlns:prefix="uri"`.
    void toStream(TMz_StreamWriter& pWriter) const override;
};

// Text to typed value: where the text starts like a number ("+", "-", "."
// or a digit) a Double when it holds "." (parsed with AFormat), else a 32-bit
// integer (decimal or "0x" hexadecimal); "true"/"false" in any letter case a
// Boolean; anything else, and a number that does not parse, the text itself.
TMz_XmlValue MzStringToValue(std::string_view AText, const TFormatSettings& AFormat);

// True for the characters names are made of: letters, digits, "_", "-" and ".".
inline bool MzIsNameChar(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
}

} // namespace korvane
