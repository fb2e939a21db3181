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
#include <stdexcept>
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

// Block memory for the nodes one parse makes and for their lists: allocation
// is a pointer bump, and a block is released when everything in it is gone
// and the arena has moved on (or been destroyed). Used by one thread at a
// time, like its document.
class TMz_XmlNodeArena {
public:
    TMz_XmlNodeArena() = default;
    TMz_XmlNodeArena(const TMz_XmlNodeArena&) = delete;
    TMz_XmlNodeArena& operator=(const TMz_XmlNodeArena&) = delete;
    ~TMz_XmlNodeArena();
    struct TBlock {
        int64_t Live = 0;
        // The arena while it lives, which lists the block.
        TMz_XmlNodeArena* Arena = nullptr;
        TBlock* Prev = nullptr;
        TBlock* Next = nullptr;
        bool Retired = false;
    };
    // Nil when ASize is too large for a block.
    void* Allocate(size_t ASize)
    {
        const size_t need = HeaderSize + ((ASize + Alignment - 1) & ~(Alignment - 1));
        if (FCurrent && FUsed + need <= BlockData) return Place(need);
        return AllocateInNewBlock(need);
    }
    // Whether a list meant for the arena had to go to the heap.
    bool Overflowed() const { return FOverflowed; }
    void NoteOverflow() { FOverflowed = true; }
    // Releases every block at once, whatever lives in them: for the owner
    // that knows nothing in them is used any more.
    void ReleaseAll();
    // Takes a block that is being released out of the arena's list.
    void Unlist(TBlock* ABlock);

    // Every allocation is preceded by a header naming its block (nil for the heap).
    static constexpr size_t HeaderSize = sizeof(void*);
    static constexpr size_t Alignment = alignof(void*);
    static constexpr size_t BlockSize = 256 * 1024;
    static constexpr size_t BlockHead = 48;
    static constexpr size_t BlockData = BlockSize - BlockHead;

private:
    void* Place(size_t ANeed)
    {
        char* at = reinterpret_cast<char*>(FCurrent) + BlockHead + FUsed;
#if defined(__SANITIZE_ADDRESS__)
        Unpoison(at, ANeed);
#endif
        FUsed += ANeed;
        ++FCurrent->Live;
        *reinterpret_cast<TBlock**>(at) = FCurrent;
        return at + HeaderSize;
    }
    static void Unpoison(void* APtr, size_t ASize);
    void* AllocateInNewBlock(size_t ANeed);
    // The blocks not yet released, in a list through the blocks.
    TBlock* FCurrent = nullptr;
    TBlock* FBlocks = nullptr;
    size_t FUsed = 0;
    bool FOverflowed = false;
};

// Memory for nodes and node lists: from the arena when one is given and the
// size fits, else from the heap. MzXmlRelease takes either kind back.
void* MzXmlAllocateOutside(size_t ASize, TMz_XmlNodeArena* AArena);
inline void* MzXmlAllocate(size_t ASize, TMz_XmlNodeArena* AArena)
{
    if (AArena)
        if (void* p = AArena->Allocate(ASize)) return p;
    return MzXmlAllocateOutside(ASize, AArena);
}
void MzXmlRelease(void* APtr, size_t ASize);

// The text of a name or value: either text of its own, or a view into text
// that outlives it (the decoded document a parser read, which the document
// keeps). Changing it always makes it text of its own.
class TMz_XmlText {
public:
    TMz_XmlText() = default;
    TMz_XmlText(const TMz_XmlText&) = delete;
    TMz_XmlText& operator=(const TMz_XmlText&) = delete;
    ~TMz_XmlText() { Drop(); }

    std::string_view view() const { return {FData, size_t(FSize & SizeMask)}; }
    bool empty() const { return (FSize & SizeMask) == 0; }
    bool owned() const { return (FSize & OwnedBit) != 0; }
    // A copy of AText (which may be this text itself).
    void Assign(std::string_view AText);
    // Refers to AText, which must outlive this object.
    void Refer(std::string_view AText)
    {
        Drop();
        FData = AText.data();
        FSize = AText.size() & SizeMask;
    }
    void Append(std::string_view AText);
    // Turns a view into text of its own.
    void Own()
    {
        if (!owned() && !empty()) Assign(view());
    }

private:
    // The size, with the top bit telling text of its own.
    static constexpr uint64_t OwnedBit = uint64_t(1) << 63;
    static constexpr uint64_t SizeMask = OwnedBit - 1;
    void Drop()
    {
        if (owned()) delete[] FData;
        FData = "";
        FSize = 0;
    }
    const char* FData = "";
    uint64_t FSize = 0;
};

// A node's qualified name "prefix:name" (or the name alone without a prefix)
// in one piece, either its own or a view into text that outlives it, with
// the length of the prefix: qualified-name look-ups compare it whole.
class TMz_XmlName {
public:
    TMz_XmlName() = default;
    TMz_XmlName(const TMz_XmlName&) = delete;
    TMz_XmlName& operator=(const TMz_XmlName&) = delete;
    ~TMz_XmlName() { Drop(); }

    std::string_view qualified() const { return {FData, FSize}; }
    std::string_view prefix() const { return {FData, FPrefix}; }
    std::string_view local() const { return FPrefix ? qualified().substr(FPrefix + 1) : qualified(); }
    bool owned() const { return FOwned; }
    // Refers to AQualified, which must outlive this object and is
    // "prefix:name" with a prefix of APrefix bytes (0 for none).
    void Refer(std::string_view AQualified, size_t APrefix)
    {
        if (AQualified.size() > INT32_MAX) TooLong();
        Drop();
        FData = AQualified.data();
        FSize = uint32_t(AQualified.size());
        FPrefix = uint32_t(APrefix);
    }
    // A copy of "prefix:name" (either may be a view into this name).
    void Assign(std::string_view APrefix, std::string_view AName);
    void Own()
    {
        if (!FOwned && FSize) Assign(prefix(), local());
    }

private:
    [[noreturn]] static void TooLong();
    void Drop()
    {
        if (FOwned) delete[] FData;
        FData = "";
        FSize = FPrefix = 0;
        FOwned = false;
    }
    const char* FData = "";
    uint32_t FSize = 0;
    uint32_t FPrefix : 31 = 0;
    uint32_t FOwned : 1 = 0;
};

// A list of node pointers whose memory comes from MzXmlAllocate.
template <class TNode>
class TMz_XmlNodeList {
public:
    using const_iterator = TNode* const*;
    TMz_XmlNodeList() = default;
    TMz_XmlNodeList(const TMz_XmlNodeList&) = delete;
    TMz_XmlNodeList& operator=(const TMz_XmlNodeList&) = delete;
    ~TMz_XmlNodeList() { Release(); }

    const_iterator begin() const { return FData; }
    const_iterator end() const { return FData + FCount; }
    size_t size() const { return FCount; }
    bool empty() const { return FCount == 0; }
    TNode* operator[](size_t AIndex) const { return FData[AIndex]; }
    void Set(size_t AIndex, TNode* ANode) { FData[AIndex] = ANode; }
    void Push(TNode* ANode, TMz_XmlNodeArena* AArena = nullptr)
    {
        if (FCount == FCapacity) Grow(AArena);
        FData[FCount++] = ANode;
    }
    void Erase(size_t AIndex)
    {
        for (size_t i = AIndex + 1; i < FCount; ++i) FData[i - 1] = FData[i];
        --FCount;
    }
    // Index of ANode, searched from the back (the newest first); -1 when absent.
    ptrdiff_t LastIndexOf(const TNode* ANode) const
    {
        for (size_t i = FCount; i-- > 0;)
            if (FData[i] == ANode) return ptrdiff_t(i);
        return -1;
    }
    void Release()
    {
        if (FData) MzXmlRelease(FData, FCapacity * sizeof(TNode*));
        FData = nullptr;
        FCount = FCapacity = 0;
    }
    // Moves the entries into a vector and empties the list.
    std::vector<TNode*> TakeAll()
    {
        std::vector<TNode*> all(begin(), end());
        Release();
        return all;
    }

private:
    void Grow(TMz_XmlNodeArena* AArena)
    {
        if (FCapacity > UINT32_MAX / 2) throw std::length_error("XML node list too long");
        const uint32_t capacity = FCapacity ? FCapacity * 2 : 2;
        auto* data = static_cast<TNode**>(MzXmlAllocate(capacity * sizeof(TNode*), AArena));
        for (size_t i = 0; i < FCount; ++i) data[i] = FData[i];
        if (FData) MzXmlRelease(FData, FCapacity * sizeof(TNode*));
        FData = data;
        FCapacity = capacity;
    }
    TNode** FData = nullptr;
    uint32_t FCount = 0;
    uint32_t FCapacity = 0;
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
    using const_iterator = TMz_XmlNodeList<TMz_XmlElement>::const_iterator;
    const_iterator begin() const { return FItems.begin(); }
    const_iterator end() const { return FItems.end(); }
    // The enumerator of the list (the list itself iterates too).
    const TMz_XmlNodes& GetEnumerator() const { return *this; }
    int Count() const { return int(FItems.size()); }
    // Raises ERangeError outside 0 .. Count() - 1.
    TMz_XmlElement* operator[](int AIndex) const;

private:
    friend class TMz_XmlNode;
    friend class TMz_XmlElement;
    TMz_XmlNodeList<TMz_XmlElement> FItems;
};

class TMz_XmlNode : public TPersistent {
    KORVANE_CLASS(TMz_XmlNode, TPersistent)

    TMz_XmlNode(TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string_view pNamespace,
                std::string_view pName);

    TMz_XmlDocument* document() const { return fDocument; }
    TMz_XmlNode* parent() const { return fParent; }
    void setParent(TMz_XmlNode* pParent)
    {
        Touch();
        fParent = pParent;
    }
    TMz_XmlNodeKind kind() const { return fKind; }
    void setKind(TMz_XmlNodeKind pKind)
    {
        Touch();
        fKind = pKind;
    }
    // The namespace prefix ("" for none). Names and values are views that
    // stay valid until the node changes them or goes.
    std::string_view namespace_() const { return fName.prefix(); }
    void setNamespace(std::string_view pNamespace)
    {
        Touch();
        fName.Assign(pNamespace, fName.local());
    }
    std::string_view name() const { return fName.local(); }
    void setName(std::string_view pName)
    {
        Touch();
        fName.Assign(fName.prefix(), pName);
    }
    bool closed() const { return fClosed; }
    void setClosed(bool pClosed)
    {
        Touch();
        fClosed = pClosed;
    }

    // The raw text classified by the document (text when there is no document).
    virtual TMz_XmlValue value() const;
    // The raw text becomes the text form of the value, floats in the document's format.
    virtual void setValue(const TMz_XmlValue& pValue);
    virtual std::string_view getRawValue() const { return fValue.view(); }
    virtual void setRawValue(std::string_view pValue)
    {
        Touch();
        fValue.Assign(pValue);
    }
    // "prefix:name", or the name alone without a prefix.
    virtual std::string getQualifiedName() const;
    // The same without a copy, valid until the name changes.
    std::string_view qualifiedName() const { return fName.qualified(); }
    bool equals(std::string_view pNamespace, std::string_view pName) const
    {
        return fName.prefix() == pNamespace && fName.local() == pName;
    }
    // True when the prefix is declared for this node (a plain node asks its parent).
    virtual bool defined(std::string_view pNamespace) const;
    virtual void toStream(TMz_StreamWriter& pWriter) const = 0;
    // This node as an element, nil when it is none (cheaper than a cast).
    TMz_XmlElement* AsElement();
    const TMz_XmlElement* AsElement() const { return const_cast<TMz_XmlNode*>(this)->AsElement(); }
    // This node as a namespace declaration, nil when it is none.
    const TMz_XmlNamespace* AsNamespace() const;

    // Nodes are allocated with a small header that says where their memory
    // comes from: the heap, or the node arena of the document that parsed
    // them (new (arena) T(...)). An arena block goes when its last node does.
    static void* operator new(size_t ASize);
    static void* operator new(size_t ASize, TMz_XmlNodeArena* AArena) { return MzXmlAllocate(ASize, AArena); }
    static void operator delete(void* APtr, size_t ASize);
    static void operator delete(void* APtr, TMz_XmlNodeArena* AArena);

protected:
    void BeforeDestruction() override;
    friend class TMz_XmlDocument;
    friend class TMz_XmlElement;
    friend class TMz_XmlAttribute;
    friend class TMz_XmlNamespace;
    friend class TMz_XmlParser;

    // The class a node was made as, so that a node's class is told without RTTI.
    enum TClassTag : uint8_t { ctNode, ctElement, ctAttribute, ctNamespace };
    // Construction by the parser: names refer to the document's kept text,
    // and the node is known to be of exactly its class in arena memory.
    struct TParsed {};
    // pQualified is "prefix:name" with a prefix of pPrefix bytes, in the kept text.
    TMz_XmlNode(TParsed, TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string_view pQualified,
                size_t pPrefix);
    // Gives every name and value in the subtree of this node text of its own,
    // before the subtree goes where the text it refers to may not live as long.
    void OwnTexts();
    // Every change to a node the parser made goes through here: its tree is
    // no longer the parser's alone (see TMz_XmlDocument::fPlainTree).
    void Touch()
    {
        if (fParsed) MarkChanged();
    }
    void MarkChanged();
    void OwnOwnTexts()
    {
        fName.Own();
        fValue.Own();
    }

    // The small fields first: they share the padding of the base class.
    TMz_XmlNodeKind fKind = mzDefault;
    TClassTag fClassTag = ctNode;
    bool fClosed = false;
    bool fParsed = false;
    bool fHasNodes = false; // of an element: whether its child list exists
    TMz_XmlDocument* fDocument;
    TMz_XmlNode* fParent;
    // The namespace prefix and the local name, together.
    TMz_XmlName fName;
    TMz_XmlText fValue;
};

// A list of attribute or namespace nodes in the order they were entered,
// looked up by qualified name (hashed once it grows beyond a few entries).
template <class TNode>
class TMz_XmlNodeMap {
public:
    using const_iterator = typename TMz_XmlNodeList<TNode>::const_iterator;
    const_iterator begin() const { return FItems.begin(); }
    const_iterator end() const { return FItems.end(); }
    int Count() const { return int(FItems.size()); }
    TNode* Find(std::string_view AKey) const;

private:
    friend class TMz_XmlElement;
    friend class TMz_XmlAttribute;
    friend class TMz_XmlNamespace;
    // Enters ANode under its qualified name; answers the node it replaced (nil when none).
    TNode* Put(TNode* ANode, TMz_XmlNodeArena* AArena = nullptr);
    // Takes the entry of AKey out when it holds ANode (any node when nil); answers the node taken.
    TNode* Take(std::string_view AKey, TNode* ANode);
    void Clear()
    {
        FItems.Release();
        FIndex.reset();
    }
    int IndexOf(std::string_view AKey) const;
    int IndexOf(const TNode* ANode) const;
    void Reindex();

    // Entries are keyed by their nodes' qualified names.
    static constexpr size_t HashFrom = 8;
    TMz_XmlNodeList<TNode> FItems;
    std::unique_ptr<std::unordered_map<std::string, int>> FIndex;
};

using TMz_XmlAttributes = TMz_XmlNodeMap<TMz_XmlAttribute>;
using TMz_XmlNamespaces = TMz_XmlNodeMap<TMz_XmlNamespace>;

class TMz_XmlElement : public TMz_XmlNode {
    KORVANE_CLASS(TMz_XmlElement, TMz_XmlNode)

    // Appends itself to the children of pParent when that is an element.
    TMz_XmlElement(TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string_view pNamespace,
                   std::string_view pName);

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

protected:
    void BeforeDestruction() override;

private:
    friend class TMz_XmlNode;
    friend class TMz_XmlAttribute;
    friend class TMz_XmlNamespace;
    friend class TMz_XmlDocument;
    friend class TMz_XmlParser;
    // The parser's element: appended to pParent (an element or nil) with list memory from the arena.
    TMz_XmlElement(TParsed, TMz_XmlDocument* pDocument, TMz_XmlElement* pParent, std::string_view pQualified,
                   size_t pPrefix, TMz_XmlNodeArena* pArena);
    void AppendChild(TMz_XmlElement* pNode, TMz_XmlNodeArena* pArena = nullptr);
    static void FreeElements(std::vector<TMz_XmlElement*> AWork);
    // Frees an attribute or namespace node whose element is going.
    static void FreeMember(TMz_XmlNode* pNode);
    // Frees the attributes, declarations and retired nodes of an element that is going.
    void FreeMembers();
    void DetachChild(TMz_XmlNode* pNode);
    // Keeps a node that left a map alive until the element goes.
    void Retire(TMz_XmlNode* pNode);
    TMz_XmlAttribute* NewAttribute(const std::string& pName);
    void WriteAttributes(TMz_StreamWriter& pWriter) const;

    TMz_XmlNodes fNodes;
    TMz_XmlAttributes fAttributes;
    std::unique_ptr<TMz_XmlNamespaces> fNamespaces;
    std::unique_ptr<TMz_XmlNodeList<TMz_XmlNode>> fRetired;
};

class TMz_XmlAttribute : public TMz_XmlNode {
    KORVANE_CLASS(TMz_XmlAttribute, TMz_XmlNode)

    // Enters itself in the attribute map of pParent when that is an element.
    TMz_XmlAttribute(TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string_view pNamespace,
                     std::string_view pName);

    bool defined(std::string_view pNamespace) const override;
    void toStream(TMz_StreamWriter& pWriter) const override;

protected:
    friend class TMz_XmlParser;
    // For TMz_XmlNamespace: sets the kind and attaches nowhere.
    struct TUnattached {};
    TMz_XmlAttribute(TUnattached, TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string_view pNamespace,
                     std::string_view pName);
    // The parser's attribute, entered in pParent's map with list memory from the arena.
    TMz_XmlAttribute(TParsed, TMz_XmlDocument* pDocument, TMz_XmlElement* pParent, std::string_view pQualified,
                     size_t pPrefix, TMz_XmlNodeArena* pArena);
    TMz_XmlAttribute(TParsed, TUnattached, TMz_XmlDocument* pDocument, TMz_XmlElement* pParent,
                     std::string_view pName);
};

// A namespace declaration: the declared prefix is its name, the URI its value.
class TMz_XmlNamespace : public TMz_XmlAttribute {
    KORVANE_CLASS(TMz_XmlNamespace, TMz_XmlAttribute)

    // Enters itself in the namespace map of pParent when that is an element.
    TMz_XmlNamespace(TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string_view pNamespace,
                     std::string_view pName);

    bool defined(std::string_view pNamespace) const override { return name() == pNamespace; }
    // Writes the declaration as ` xmlns:prefix="uri"`.
    void toStream(TMz_StreamWriter& pWriter) const override;

private:
    friend class TMz_XmlParser;
    // The parser's declaration of prefix pName, entered in pParent's namespace map.
    TMz_XmlNamespace(TParsed, TMz_XmlDocument* pDocument, TMz_XmlElement* pParent, std::string_view pName);
};

inline TMz_XmlElement* TMz_XmlNode::AsElement()
{
    return fClassTag == ctElement ? static_cast<TMz_XmlElement*>(this) : nullptr;
}

inline const TMz_XmlNamespace* TMz_XmlNode::AsNamespace() const
{
    return fClassTag == ctNamespace ? static_cast<const TMz_XmlNamespace*>(this) : nullptr;
}

// Text to typed value: where the text starts like a number ("+", "-", "."
// or a digit) a Double when it holds "." (parsed with AFormat), else a 32-bit
// integer (decimal or "0x" hexadecimal); "true"/"false" in any letter case a
// Boolean; anything else, and a number that does not parse, the text itself.
TMz_XmlValue MzStringToValue(std::string_view AText, const TFormatSettings& AFormat);

// True for the characters names are made of: letters, digits, "_", "-" and ".".
constexpr bool MzIsNameChar(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
}

} // namespace korvane
