#include "Korvane.Xml.Node.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "Korvane.Xml.Document.h"
#include "Korvane.Xml.Writer.h"
#include "Platform.ClassRegistry.h"

namespace korvane {

KORVANE_IMPLEMENT_CLASS(TMz_XmlNode, "Korvane.Xml.Node")
KORVANE_IMPLEMENT_CLASS(TMz_XmlElement, "Korvane.Xml.Node")
KORVANE_IMPLEMENT_CLASS(TMz_XmlAttribute, "Korvane.Xml.Node")
KORVANE_IMPLEMENT_CLASS(TMz_XmlNamespace, "Korvane.Xml.Node")

namespace {

TMz_XmlElement* ElementOf(TMz_XmlNode* ANode) { return ANode ? ANode->AsElement() : nullptr; }

} // namespace

// ---- node memory ----

namespace {

// The header in front of every node and list: the arena block it lives in,
// nil for the heap. Nodes need no more than pointer alignment.
struct TNodeHeader {
    TMz_XmlNodeArena::TBlock* Block;
};
constexpr size_t HeaderSize = TMz_XmlNodeArena::HeaderSize;
constexpr size_t BlockSize = TMz_XmlNodeArena::BlockSize;
constexpr size_t BlockHead = TMz_XmlNodeArena::BlockHead;
constexpr size_t BlockData = TMz_XmlNodeArena::BlockData;
static_assert(sizeof(TNodeHeader) == HeaderSize && alignof(TNodeHeader) <= TMz_XmlNodeArena::Alignment);
static_assert(sizeof(TMz_XmlNodeArena::TBlock) <= BlockHead);

// Under AddressSanitizer, arena memory that holds no live node is poisoned,
// so a node used after it was freed is still caught.
#if defined(__SANITIZE_ADDRESS__)
void Poison(void* APtr, size_t ASize) { __asan_poison_memory_region(APtr, ASize); }
void Unpoison(void* APtr, size_t ASize) { __asan_unpoison_memory_region(APtr, ASize); }
#else
void Poison(void*, size_t) {}
void Unpoison(void*, size_t) {}
#endif

// Blocks whose nodes are all gone wait here for the next parse, up to a
// bound, rather than going back to the system: a block taken fresh from the
// system costs a page fault for every page of it, which is much of the work
// of building a tree. Any thread may give or take.
class TBlockCache {
public:
    static constexpr size_t MaxBlocks = 256; // 64 MiB

    ~TBlockCache()
    {
        for (void* b : FBlocks) ::operator delete(b);
    }
    void* Take()
    {
        {
            const std::lock_guard<std::mutex> lock(FLock);
            if (!FBlocks.empty()) {
                void* b = FBlocks.back();
                FBlocks.pop_back();
                return b;
            }
        }
        return ::operator new(BlockSize);
    }
    void Give(void* ABlock)
    {
        {
            const std::lock_guard<std::mutex> lock(FLock);
            if (FBlocks.size() < MaxBlocks) {
                FBlocks.push_back(ABlock);
                return;
            }
        }
        ::operator delete(ABlock);
    }

private:
    std::mutex FLock;
    std::vector<void*> FBlocks;
};

TBlockCache& Blocks()
{
    static TBlockCache cache;
    return cache;
}

void ReleaseBlock(TMz_XmlNodeArena::TBlock* ABlock)
{
    if (ABlock->Arena) ABlock->Arena->Unlist(ABlock);
    Unpoison(ABlock, BlockSize);
    ABlock->~TBlock();
    Poison(ABlock, BlockSize);
    Blocks().Give(ABlock);
}

void Unlink(TMz_XmlNodeArena::TBlock* ABlock)
{
    if (--ABlock->Live == 0 && ABlock->Retired) ReleaseBlock(ABlock);
}

} // namespace

TMz_XmlNodeArena::~TMz_XmlNodeArena()
{
    // Blocks that still hold nodes live on without the arena.
    for (TBlock* b = FBlocks; b; b = b->Next) b->Arena = nullptr;
    FBlocks = nullptr;
    if (!FCurrent) return;
    FCurrent->Retired = true;
    if (FCurrent->Live == 0) ReleaseBlock(FCurrent);
}

void TMz_XmlNodeArena::Unlist(TBlock* ABlock)
{
    if (ABlock->Prev) ABlock->Prev->Next = ABlock->Next;
    else FBlocks = ABlock->Next;
    if (ABlock->Next) ABlock->Next->Prev = ABlock->Prev;
    ABlock->Arena = nullptr;
    if (ABlock == FCurrent) {
        FCurrent = nullptr;
        FUsed = 0;
    }
}

void TMz_XmlNodeArena::ReleaseAll()
{
    while (FBlocks) ReleaseBlock(FBlocks);
}

void* TMz_XmlNodeArena::AllocateInNewBlock(size_t ANeed)
{
    if (ANeed > BlockData / 4) return nullptr;
    {
        if (FCurrent) {
            FCurrent->Retired = true;
            if (FCurrent->Live == 0) ReleaseBlock(FCurrent);
        }
        void* raw = Blocks().Take();
        Unpoison(raw, BlockHead);
        FCurrent = new (raw) TBlock();
        FCurrent->Arena = this;
        FCurrent->Next = FBlocks;
        if (FBlocks) FBlocks->Prev = FCurrent;
        FBlocks = FCurrent;
        FUsed = 0;
        Poison(static_cast<char*>(raw) + BlockHead, BlockData);
    }
    return Place(ANeed);
}

void TMz_XmlNodeArena::Unpoison(void* APtr, size_t ASize) { ::korvane::Unpoison(APtr, ASize); }

// Memory the arena cannot give: from the heap.
void* MzXmlAllocateOutside(size_t ASize, TMz_XmlNodeArena* AArena)
{
    if (AArena) AArena->NoteOverflow();
    char* at = static_cast<char*>(::operator new(HeaderSize + ASize));
    new (at) TNodeHeader{nullptr};
    return at + HeaderSize;
}

void MzXmlRelease(void* APtr, size_t ASize)
{
    if (!APtr) return;
    auto* header = reinterpret_cast<TNodeHeader*>(static_cast<char*>(APtr) - HeaderSize);
    TMz_XmlNodeArena::TBlock* block = header->Block;
    if (!block) {
        ::operator delete(static_cast<void*>(header));
        return;
    }
    Poison(header, HeaderSize + ASize);
    Unlink(block);
}

void* TMz_XmlNode::operator new(size_t ASize) { return MzXmlAllocate(ASize, nullptr); }


void TMz_XmlNode::operator delete(void* APtr, size_t ASize) { MzXmlRelease(APtr, ASize); }

void TMz_XmlNode::operator delete(void* APtr, TMz_XmlNodeArena*)
{
    // Only reached when a constructor fails: the size is unknown, the memory
    // simply stays with its block until the block goes.
    if (!APtr) return;
    auto* header = reinterpret_cast<TNodeHeader*>(static_cast<char*>(APtr) - HeaderSize);
    if (TMz_XmlNodeArena::TBlock* block = header->Block) Unlink(block);
    else ::operator delete(static_cast<void*>(header));
}

// ---- TMz_XmlText ----

void TMz_XmlText::Assign(std::string_view AText)
{
    if (AText.empty()) {
        Drop();
        return;
    }
    char* data = new char[AText.size()];
    std::memcpy(data, AText.data(), AText.size());
    Drop();
    FData = data;
    FSize = AText.size() | OwnedBit;
}

void TMz_XmlText::Append(std::string_view AText)
{
    if (AText.empty()) return;
    const size_t old = view().size();
    if (old == 0) {
        Assign(AText);
        return;
    }
    if (AText.size() > std::numeric_limits<size_t>::max() / 2 - old) throw std::bad_alloc();
    char* data = new char[old + AText.size()];
    std::memcpy(data, FData, old);
    std::memcpy(data + old, AText.data(), AText.size());
    const size_t size = old + AText.size();
    Drop();
    FData = data;
    FSize = size | OwnedBit;
}

// ---- TMz_XmlName ----

void TMz_XmlName::TooLong() { throw std::length_error("XML name too long"); }

void TMz_XmlName::Assign(std::string_view APrefix, std::string_view AName)
{
    const size_t size = APrefix.size() + (APrefix.empty() ? 0 : 1) + AName.size();
    if (APrefix.size() > INT32_MAX || AName.size() > INT32_MAX || size > INT32_MAX) TooLong();
    if (size == 0) {
        Drop();
        return;
    }
    char* data = new char[size];
    std::memcpy(data, APrefix.data(), APrefix.size());
    if (!APrefix.empty()) data[APrefix.size()] = ':';
    std::memcpy(data + size - AName.size(), AName.data(), AName.size());
    Drop();
    FData = data;
    FSize = uint32_t(size);
    FPrefix = uint32_t(APrefix.size());
    FOwned = true;
}

// ---- TMz_XmlValue ----

TMz_XmlValue TMz_XmlValue::FromInteger(int32_t AValue)
{
    TMz_XmlValue v;
    v.FKind = vkInteger;
    v.FInteger = AValue;
    return v;
}

TMz_XmlValue TMz_XmlValue::FromDouble(double AValue)
{
    TMz_XmlValue v;
    v.FKind = vkDouble;
    v.FDouble = AValue;
    return v;
}

TMz_XmlValue TMz_XmlValue::FromBoolean(bool AValue)
{
    TMz_XmlValue v;
    v.FKind = vkBoolean;
    v.FBoolean = AValue;
    return v;
}

TMz_XmlValue TMz_XmlValue::FromString(std::string AValue)
{
    TMz_XmlValue v;
    v.FKind = vkString;
    v.FString = std::move(AValue);
    return v;
}

int32_t TMz_XmlValue::AsInteger() const
{
    if (FKind == vkEmpty) return 0;
    if (FKind != vkInteger) throw EInvalidCast();
    return FInteger;
}

double TMz_XmlValue::AsDouble() const
{
    if (FKind == vkEmpty) return 0;
    if (FKind == vkInteger) return FInteger;
    if (FKind != vkDouble) throw EInvalidCast();
    return FDouble;
}

bool TMz_XmlValue::AsBoolean() const
{
    if (FKind == vkEmpty) return false;
    if (FKind != vkBoolean) throw EInvalidCast();
    return FBoolean;
}

const std::string& TMz_XmlValue::AsString() const
{
    if (FKind != vkString && FKind != vkEmpty) throw EInvalidCast();
    return FString;
}

std::string TMz_XmlValue::DisplayText() const
{
    switch (FKind) {
    case vkInteger: return IntToStr(FInteger);
    case vkDouble: return FloatToStr(FDouble);
    case vkBoolean: return FBoolean ? "True" : "False";
    case vkString: return FString;
    case vkEmpty: break;
    }
    return std::string();
}


TMz_XmlValue MzStringToValue(std::string_view t, const TFormatSettings& format)
{
    if (t.empty()) return TMz_XmlValue();
    const char c = t.front();
    if (c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9')) {
        // Blanks around a number make it text (TryStrToInt would accept them).
        const unsigned char last = static_cast<unsigned char>(t.back());
        if (last > ' ') {
            if (t.find('.') != std::string_view::npos) {
                double d;
                if (TryStrToFloat(t, d, format)) return TMz_XmlValue::FromDouble(d);
            } else {
                int i;
                if (TryStrToInt(t, i)) return TMz_XmlValue::FromInteger(i);
            }
        }
        return TMz_XmlValue::FromString(std::string(t));
    }
    if ((c == 'T' || c == 't' || c == 'F' || c == 'f')) {
        if (SameText(t, "true")) return TMz_XmlValue::FromBoolean(true);
        if (SameText(t, "false")) return TMz_XmlValue::FromBoolean(false);
    }
    return TMz_XmlValue::FromString(std::string(t));
}

namespace {

const TFormatSettings& FormatOf(const TMz_XmlDocument* d)
{
    static const TFormatSettings EnUS;
    return d ? d->format() : EnUS;
}

// Whether a prefix is declared at or above ANode: the first namespace node
// on the way up answers by its own name, elements by their declarations.
bool DeclaredFrom(const TMz_XmlNode* ANode, std::string_view pNamespace)
{
    for (const TMz_XmlNode* n = ANode; n; n = n->parent()) {
        if (const TMz_XmlNamespace* ns = n->AsNamespace()) return ns->name() == pNamespace;
        if (const TMz_XmlElement* e = n->AsElement())
            if (e->namespace_(pNamespace)) return true;
    }
    return false;
}

bool IsNameRun(std::string_view s)
{
    if (s.empty()) return false;
    for (unsigned char c : s)
        if (!MzIsNameChar(c)) return false;
    return true;
}

// A qualified name the parser reads back as the same prefix and local name.
bool IsWritableName(std::string_view q)
{
    const size_t colon = q.find(':');
    if (colon == std::string_view::npos) return IsNameRun(q);
    return IsNameRun(q.substr(0, colon)) && IsNameRun(q.substr(colon + 1));
}

std::string_view PrefixOf(std::string_view q)
{
    const size_t colon = q.find(':');
    return colon == std::string_view::npos ? std::string_view() : q.substr(0, colon);
}

} // namespace

// ---- TMz_XmlNodeMap ----

template <class TNode>
int TMz_XmlNodeMap<TNode>::IndexOf(std::string_view AKey) const
{
    if (FIndex) {
        const auto it = FIndex->find(std::string(AKey));
        return it == FIndex->end() ? -1 : it->second;
    }
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i]->qualifiedName() == AKey) return int(i);
    return -1;
}

template <class TNode>
int TMz_XmlNodeMap<TNode>::IndexOf(const TNode* ANode) const
{
    if (FIndex) return IndexOf(ANode->qualifiedName());
    // Names of one element mostly differ in length or first character.
    const std::string_view key = ANode->qualifiedName();
    for (size_t i = 0; i < FItems.size(); ++i) {
        const std::string_view q = FItems[i]->qualifiedName();
        if (q.size() == key.size() && (q.empty() || (q[0] == key[0] && q == key))) return int(i);
    }
    return -1;
}

template <class TNode>
TNode* TMz_XmlNodeMap<TNode>::Find(std::string_view AKey) const
{
    const int i = IndexOf(AKey);
    return i < 0 ? nullptr : FItems[size_t(i)];
}

template <class TNode>
void TMz_XmlNodeMap<TNode>::Reindex()
{
    if (FItems.size() <= HashFrom) {
        FIndex.reset();
        return;
    }
    if (!FIndex) FIndex = std::make_unique<std::unordered_map<std::string, int>>();
    FIndex->clear();
    for (size_t i = 0; i < FItems.size(); ++i) (*FIndex)[FItems[i]->getQualifiedName()] = int(i);
}

template <class TNode>
TNode* TMz_XmlNodeMap<TNode>::Put(TNode* ANode, TMz_XmlNodeArena* AArena)
{
    const int i = IndexOf(ANode);
    if (i >= 0) {
        TNode* old = FItems[size_t(i)];
        FItems.Set(size_t(i), ANode);
        return old == ANode ? nullptr : old;
    }
    FItems.Push(ANode, AArena);
    if (FIndex) (*FIndex)[ANode->getQualifiedName()] = int(FItems.size() - 1);
    else if (FItems.size() > HashFrom) Reindex();
    return nullptr;
}

template <class TNode>
TNode* TMz_XmlNodeMap<TNode>::Take(std::string_view AKey, TNode* ANode)
{
    int i = -1;
    if (!AKey.empty() || !ANode) i = IndexOf(AKey);
    if (ANode && (i < 0 || FItems[size_t(i)] != ANode)) i = int(FItems.LastIndexOf(ANode));
    if (i < 0) return nullptr;
    TNode* taken = FItems[size_t(i)];
    FItems.Erase(size_t(i));
    if (FIndex) Reindex();
    return taken;
}

template class TMz_XmlNodeMap<TMz_XmlAttribute>;
template class TMz_XmlNodeMap<TMz_XmlNamespace>;

// ---- TMz_XmlNode ----

TMz_XmlNode::TMz_XmlNode(TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string_view pNamespace,
                         std::string_view pName)
    : fDocument(pDocument), fParent(pParent)
{
    fName.Assign(pNamespace, pName);
}

TMz_XmlNode::TMz_XmlNode(TParsed, TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string_view pQualified,
                         size_t pPrefix)
    : fParsed(true), fDocument(pDocument), fParent(pParent)
{
    fName.Refer(pQualified, pPrefix);
}

TMz_XmlValue TMz_XmlNode::value() const { return MzStringToValue(getRawValue(), FormatOf(fDocument)); }

void TMz_XmlNode::setValue(const TMz_XmlValue& pValue)
{
    if (pValue.Kind() == TMz_XmlValue::vkDouble) setRawValue(FloatToStr(pValue.AsDouble(), FormatOf(fDocument)));
    else setRawValue(pValue.DisplayText());
}

std::string TMz_XmlNode::getQualifiedName() const
{
    return std::string(fName.qualified());
}

bool TMz_XmlNode::defined(std::string_view pNamespace) const { return DeclaredFrom(fParent, pNamespace); }

void TMz_XmlNode::MarkChanged() { fDocument->fPlainTree = false; }

void TMz_XmlNode::BeforeDestruction()
{
    Touch();
    if (auto* e = ElementOf(fParent); e && !e->Destroying()) e->DetachChild(this);
    fParent = nullptr;
    inherited::BeforeDestruction();
}

void TMz_XmlNode::OwnTexts()
{
    std::vector<TMz_XmlNode*> work{this};
    while (!work.empty()) {
        TMz_XmlNode* n = work.back();
        work.pop_back();
        // Its document may go before it: it no longer counts as that parser's.
        n->Touch();
        n->fParsed = false;
        n->OwnOwnTexts();
        if (TMz_XmlElement* e = n->AsElement()) {
            for (TMz_XmlElement* c : e->fNodes.FItems) work.push_back(c);
            for (TMz_XmlAttribute* a : e->fAttributes) work.push_back(a);
            if (e->fNamespaces)
                for (TMz_XmlNamespace* ns : *e->fNamespaces) work.push_back(ns);
            if (e->fRetired)
                for (TMz_XmlNode* r : *e->fRetired) work.push_back(r);
        }
    }
}

// ---- TMz_XmlNodes, TMz_XmlElement ----

TMz_XmlElement* TMz_XmlNodes::operator[](int AIndex) const
{
    if (AIndex < 0 || size_t(AIndex) >= FItems.size()) throw ERangeError("List index out of bounds");
    return FItems[size_t(AIndex)];
}

TMz_XmlElement::TMz_XmlElement(TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string_view pNamespace,
                               std::string_view pName)
    : TMz_XmlNode(pDocument, pParent, pNamespace, pName)
{
    fKind = mzDefault;
    fClassTag = ctElement;
    if (auto* e = ElementOf(pParent)) {
        e->Touch();
        e->AppendChild(this);
    }
}

TMz_XmlElement::TMz_XmlElement(TParsed, TMz_XmlDocument* pDocument, TMz_XmlElement* pParent,
                               std::string_view pQualified, size_t pPrefix, TMz_XmlNodeArena* pArena)
    : TMz_XmlNode(TParsed{}, pDocument, pParent, pQualified, pPrefix)
{
    fKind = mzDefault;
    fClassTag = ctElement;
    if (pParent) pParent->AppendChild(this, pArena);
}

const TMz_XmlNamespaces& TMz_XmlElement::namespaces() const
{
    static const TMz_XmlNamespaces None;
    return fNamespaces ? *fNamespaces : None;
}

void TMz_XmlElement::AppendChild(TMz_XmlElement* pNode, TMz_XmlNodeArena* pArena)
{
    fHasNodes = true;
    fNodes.FItems.Push(pNode, pArena);
}

void TMz_XmlElement::DetachChild(TMz_XmlNode* pNode)
{
    if (auto* child = ElementOf(pNode); child && fHasNodes) {
        const ptrdiff_t i = fNodes.FItems.LastIndexOf(child);
        if (i >= 0) {
            fNodes.FItems.Erase(size_t(i));
            return;
        }
    }
    if (pNode->fClassTag == ctNamespace) {
        if (fNamespaces && fNamespaces->Take({}, static_cast<TMz_XmlNamespace*>(pNode))) return;
    } else if (pNode->fClassTag == ctAttribute) {
        if (fAttributes.Take({}, static_cast<TMz_XmlAttribute*>(pNode))) return;
    }
    if (!fRetired) return;
    if (const ptrdiff_t i = fRetired->LastIndexOf(pNode); i >= 0) fRetired->Erase(size_t(i));
}

void TMz_XmlElement::Retire(TMz_XmlNode* pNode)
{
    if (!pNode) return;
    if (!fRetired) fRetired = std::make_unique<TMz_XmlNodeList<TMz_XmlNode>>();
    fRetired->Push(pNode);
}

void TMz_XmlElement::FreeMember(TMz_XmlNode* pNode)
{
    pNode->fParent = nullptr;
    if (!pNode->fParsed) {
        pNode->Free();
    } else if (pNode->fClassTag == ctNamespace) {
        // Nodes the parser made are of exactly their class and nothing else
        // refers to them once their element goes: no virtual protocol needed.
        auto* ns = static_cast<TMz_XmlNamespace*>(pNode);
        ns->TMz_XmlNamespace::~TMz_XmlNamespace();
        TMz_XmlNode::operator delete(ns, sizeof(TMz_XmlNamespace));
    } else {
        auto* a = static_cast<TMz_XmlAttribute*>(pNode);
        a->TMz_XmlAttribute::~TMz_XmlAttribute();
        TMz_XmlNode::operator delete(a, sizeof(TMz_XmlAttribute));
    }
}

void TMz_XmlElement::FreeMembers()
{
    for (TMz_XmlAttribute* a : fAttributes) FreeMember(a);
    fAttributes.Clear();
    if (fNamespaces) {
        for (TMz_XmlNamespace* n : *fNamespaces) FreeMember(n);
        fNamespaces.reset();
    }
    if (fRetired) {
        for (TMz_XmlNode* n : *fRetired) FreeMember(n);
        fRetired.reset();
    }
}

// Frees a list of elements and everything below them without recursing once
// per level: each element's children are taken over before it goes. They go
// in document order, which is the order the parser laid them out in memory.
void TMz_XmlElement::FreeElements(std::vector<TMz_XmlElement*> AWork)
{
    std::reverse(AWork.begin(), AWork.end());
    while (!AWork.empty()) {
        TMz_XmlElement* e = AWork.back();
        AWork.pop_back();
        e->fParent = nullptr;
        const auto& children = e->fNodes.FItems;
        for (size_t i = children.size(); i-- > 0;) AWork.push_back(children[i]);
        e->fNodes.FItems.Release();
        if (e->fParsed) {
            e->FreeMembers();
            e->TMz_XmlElement::~TMz_XmlElement();
            TMz_XmlNode::operator delete(e, sizeof(TMz_XmlElement));
        } else {
            e->Free();
        }
    }
}

void TMz_XmlElement::BeforeDestruction()
{
    if (!fNodes.FItems.empty()) FreeElements(fNodes.FItems.TakeAll());
    fNodes.FItems.Release();
    fHasNodes = false;
    FreeMembers();
    inherited::BeforeDestruction();
}

void TMz_XmlElement::add(TMz_XmlElement* pNode)
{
    if (!pNode) return;
    Touch();
    for (const TMz_XmlNode* n = this; n; n = n->parent())
        if (n == pNode) throw EInvalidOperation("an element cannot be added to itself or to one of its descendants");
    if (auto* old = ElementOf(pNode->fParent)) old->DetachChild(pNode);
    else if (!pNode->fParent && pNode->fDocument) pNode->fDocument->ReleaseDetached(pNode);
    // The node may now outlive the document whose text its names refer to.
    pNode->OwnTexts();
    pNode->fParent = this;
    AppendChild(pNode);
}

void TMz_XmlElement::remove(TMz_XmlElement* pNode)
{
    if (!fHasNodes || !pNode) return;
    Touch();
    const ptrdiff_t i = fNodes.FItems.LastIndexOf(pNode);
    if (i < 0) return;
    fNodes.FItems.Erase(size_t(i));
    FreeElements({pNode});
}

void TMz_XmlElement::clear()
{
    if (!fHasNodes) return;
    Touch();
    std::vector<TMz_XmlElement*> children = fNodes.FItems.TakeAll();
    fHasNodes = false;
    FreeElements(std::move(children));
}

TMz_XmlElement* TMz_XmlElement::find(std::string_view pTagname) const
{
    for (TMz_XmlElement* c : fNodes)
        if (c->fName.local() == pTagname) return c;
    return nullptr;
}

TMz_XmlElement* TMz_XmlElement::find(TClass pClass) const
{
    for (TMz_XmlElement* c : fNodes)
        if (c->InheritsFrom(pClass)) return c;
    return nullptr;
}

TMz_XmlElement* TMz_XmlElement::searchUpwardsForNode(TClass pClass) const
{
    for (auto* e = ElementOf(fParent); e; e = ElementOf(e->fParent))
        if (e->InheritsFrom(pClass)) return e;
    return nullptr;
}

TMz_XmlElement* TMz_XmlElement::searchUpwardsForNode(std::string_view pTagName) const
{
    for (auto* e = ElementOf(fParent); e; e = ElementOf(e->fParent))
        if (e->fName.local() == pTagName) return e;
    return nullptr;
}

void TMz_XmlElement::addAttribute(TMz_XmlAttribute* pAttr)
{
    if (!pAttr) return;
    Touch();
    pAttr->Touch();
    if (pAttr->fParent != this) {
        if (auto* old = ElementOf(pAttr->fParent)) old->DetachChild(pAttr);
        else if (!pAttr->fParent && pAttr->fDocument) pAttr->fDocument->ReleaseDetached(pAttr);
        pAttr->OwnOwnTexts();
        pAttr->fParent = this;
    }
    Retire(fAttributes.Put(pAttr));
}

TMz_XmlAttribute* TMz_XmlElement::addAttribute(const std::string& pAttr, const TMz_XmlValue& pValue)
{
    TMz_XmlAttribute* a = fAttributes.Find(pAttr);
    if (!a) a = new TMz_XmlAttribute(fDocument, this, "", pAttr);
    a->setValue(pValue);
    return a;
}

TMz_XmlAttribute* TMz_XmlElement::addAttribute(const std::string& pAttr, const std::string& pValue)
{
    return addAttribute(pAttr, TMz_XmlValue::FromString(pValue));
}

TMz_XmlAttribute* TMz_XmlElement::addAttribute(const std::string& pAttr, int32_t pValue)
{
    return addAttribute(pAttr, TMz_XmlValue::FromInteger(pValue));
}

TMz_XmlAttribute* TMz_XmlElement::addAttribute(const std::string& pAttr, bool pValue)
{
    return addAttribute(pAttr, TMz_XmlValue::FromBoolean(pValue));
}

TMz_XmlAttribute* TMz_XmlElement::addAttribute(const std::string& pAttr, double pValue)
{
    return addAttribute(pAttr, TMz_XmlValue::FromDouble(pValue));
}

TMz_XmlAttribute* TMz_XmlElement::addAttribute(const std::string& pAttr, float pValue)
{
    return addAttribute(pAttr, TMz_XmlValue::FromSingle(pValue));
}

bool TMz_XmlElement::getAttribute(std::string_view pAttr, TMz_XmlValue& pValue) const
{
    const TMz_XmlAttribute* a = fAttributes.Find(pAttr);
    pValue = a ? a->value() : TMz_XmlValue();
    return a != nullptr;
}

bool TMz_XmlElement::getAttribute(std::string_view pAttr, std::string& pValue) const
{
    TMz_XmlValue v;
    const bool found = getAttribute(pAttr, v);
    pValue = v.AsString();
    return found;
}

bool TMz_XmlElement::getAttribute(std::string_view pAttr, int32_t& pValue) const
{
    TMz_XmlValue v;
    const bool found = getAttribute(pAttr, v);
    pValue = v.AsInteger();
    return found;
}

bool TMz_XmlElement::getAttribute(std::string_view pAttr, bool& pValue) const
{
    TMz_XmlValue v;
    const bool found = getAttribute(pAttr, v);
    pValue = v.AsBoolean();
    return found;
}

bool TMz_XmlElement::getAttribute(std::string_view pAttr, double& pValue) const
{
    TMz_XmlValue v;
    pValue = 0;
    if (!getAttribute(pAttr, v)) return false;
    switch (v.Kind()) {
    case TMz_XmlValue::vkInteger:
    case TMz_XmlValue::vkDouble: pValue = v.AsDouble(); return true;
    case TMz_XmlValue::vkString: {
        double d;
        if (TryStrToFloat(v.AsString(), d, FormatOf(fDocument))) {
            pValue = d;
            return true;
        }
        std::string dotted = v.AsString();
        std::replace(dotted.begin(), dotted.end(), ',', '.');
        if (TryStrToFloat(dotted, d, FormatOf(fDocument))) {
            pValue = d;
            return true;
        }
        return false;
    }
    default: return false;
    }
}

bool TMz_XmlElement::getAttribute(std::string_view pAttr, float& pValue) const
{
    TMz_XmlValue v;
    const bool found = getAttribute(pAttr, v);
    pValue = float(v.AsDouble());
    return found;
}

void TMz_XmlElement::removeAttribute(TMz_XmlAttribute* pAttr)
{
    Touch();
    if (pAttr) Retire(fAttributes.Take(pAttr->getQualifiedName(), nullptr));
}

void TMz_XmlElement::clearAttributes()
{
    Touch();
    for (TMz_XmlAttribute* a : fAttributes) FreeMember(a);
    fAttributes.Clear();
}

void TMz_XmlElement::addNamespace(TMz_XmlNamespace* pNamespace)
{
    if (!pNamespace) return;
    Touch();
    pNamespace->Touch();
    if (pNamespace->fParent != this) {
        if (auto* old = ElementOf(pNamespace->fParent)) old->DetachChild(pNamespace);
        else if (!pNamespace->fParent && pNamespace->fDocument) pNamespace->fDocument->ReleaseDetached(pNamespace);
        pNamespace->OwnOwnTexts();
        pNamespace->fParent = this;
    }
    if (!fNamespaces) fNamespaces = std::make_unique<TMz_XmlNamespaces>();
    Retire(fNamespaces->Put(pNamespace));
}

void TMz_XmlElement::removeNamespace(TMz_XmlNamespace* pNamespace)
{
    Touch();
    if (pNamespace && fNamespaces) Retire(fNamespaces->Take(pNamespace->getQualifiedName(), nullptr));
}

void TMz_XmlElement::clearNamespaces()
{
    Touch();
    if (!fNamespaces) return;
    for (TMz_XmlNamespace* n : *fNamespaces) FreeMember(n);
    fNamespaces.reset();
}

TMz_XmlAttribute* TMz_XmlElement::NewAttribute(const std::string& pName)
{
    if (pName.find(':') == std::string::npos) return new TMz_XmlAttribute(fDocument, this, "", pName);
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t colon = pName.find(':', from);
        parts.push_back(pName.substr(from, colon == std::string::npos ? std::string::npos : colon - from));
        if (colon == std::string::npos) break;
        from = colon + 1;
    }
    // A trailing empty part does not count ("a:" is one part).
    if (parts.back().empty()) parts.pop_back();
    if (parts.size() < 2)
        throw EMz_XmlParseError(fDocument, nullptr, "invalid attribute name - incomplete namespace declaration");
    return new TMz_XmlAttribute(fDocument, this, parts[0], parts[1]);
}

std::string TMz_XmlElement::attribute(std::string_view pName) const
{
    const TMz_XmlAttribute* a = fAttributes.Find(pName);
    return a ? a->value().DisplayText() : std::string();
}

void TMz_XmlElement::setAttribute(const std::string& pName, const std::string& pValue)
{
    TMz_XmlAttribute* a = fAttributes.Find(pName);
    if (!a) a = NewAttribute(pName);
    a->setValue(MzStringToValue(pValue, FormatOf(fDocument)));
}

std::string TMz_XmlElement::attribute_raw(std::string_view pName) const
{
    const TMz_XmlAttribute* a = fAttributes.Find(pName);
    return a ? std::string(a->getRawValue()) : std::string();
}

void TMz_XmlElement::setAttribute_raw(const std::string& pName, const std::string& pValue)
{
    TMz_XmlAttribute* a = fAttributes.Find(pName);
    if (!a) a = NewAttribute(pName);
    a->setRawValue(pValue);
}

TMz_XmlNamespace* TMz_XmlElement::namespace_(std::string_view pPrefix) const
{
    return fNamespaces ? fNamespaces->Find(pPrefix) : nullptr;
}

bool TMz_XmlElement::defined(std::string_view pNamespace) const { return DeclaredFrom(this, pNamespace); }

void TMz_XmlElement::WriteAttributes(TMz_StreamWriter& pWriter) const
{
    // Declarations first: the parser checks an attribute's prefix as soon as it reads it.
    if (fNamespaces)
        for (const TMz_XmlNamespace* n : *fNamespaces) n->toStream(pWriter);
    for (const TMz_XmlAttribute* a : fAttributes) a->toStream(pWriter);
}

namespace {

// Text the parser reads back unchanged as an element's text: no markup
// characters or NUL inside, nothing it trims at either end.
bool IsReadableText(std::string_view t)
{
    if (t.empty()) return true;
    if (static_cast<unsigned char>(t.front()) <= ' ' || static_cast<unsigned char>(t.back()) <= ' ') return false;
    for (char c : t)
        if (c == '<' || c == '>' || c == '\0') return false;
    return true;
}

void CheckText(const TMz_XmlNode& ANode, const std::string& AQualified)
{
    if (!IsReadableText(ANode.getRawValue()))
        throw EMz_XmlStoringError::Fmt(ANode.document(),
                                       "text of element \"%s\" cannot be read back: it holds \"<\", \">\" or NUL, "
                                       "or starts or ends with a blank or control character",
                                       AQualified);
}

// Checks a prefixed name against the declarations the parser will look for.
void CheckName(const TMz_XmlNode& ANode, const std::string& AQualified, const char* AWhat)
{
    if (!IsWritableName(AQualified))
        throw EMz_XmlStoringError::Fmt(ANode.document(), "invalid %s name \"%s\"", AWhat, AQualified);
    const std::string_view prefix = PrefixOf(AQualified);
    if (!prefix.empty() && prefix != "xmlns" && !ANode.defined(prefix))
        throw EMz_XmlStoringError::Fmt(ANode.document(), "namespace \"%s\" not defined for %s \"%s\"",
                                       std::string(prefix), AWhat, AQualified);
}

} // namespace

void TMz_XmlElement::toStream(TMz_StreamWriter& pWriter) const
{
    const bool b = pWriter.beautified();
    const std::string qname = getQualifiedName();
    switch (fKind) {
    case mzDefault: {
        CheckName(*this, qname, "tag");
        pWriter.enter();
        if (pWriter.depth() > TMz_XmlDocument::MaxDepth)
            throw EMz_XmlStoringError::Fmt(fDocument, "element \"%s\" nested deeper than %d levels", qname,
                                           TMz_XmlDocument::MaxDepth);
        CheckText(*this, qname);
        pWriter.write("<", b);
        pWriter.write(qname);
        WriteAttributes(pWriter);
        if (fNodes.Count() > 0 || !fValue.empty()) {
            pWriter.write(">");
            pWriter.write(fValue.view());
            if (fHasNodes) {
                if (b) pWriter.crlf();
                pWriter.indent();
                for (const TMz_XmlElement* c : fNodes) c->toStream(pWriter);
                pWriter.outdent();
            }
            pWriter.write("</", fHasNodes && b);
            pWriter.write(qname);
            pWriter.write(">");
        } else {
            pWriter.write(" />");
        }
        if (b) pWriter.crlf();
        pWriter.leave();
        return;
    }
    case mzDocument:
    case mzStylesheet: {
        const bool header = fKind == mzDocument;
        if (qname != (header ? "xml" : "xml-stylesheet"))
            throw EMz_XmlStoringError::Fmt(fDocument, "invalid xml header name \"%s\"", qname);
        if (fParent)
            throw EMz_XmlStoringError::Fmt(fDocument, "xml header \"%s\" only allowed as root node", qname);
        pWriter.write("<?", b);
        pWriter.write(qname);
        if (header) {
            static const char* const Names[] = {"version", "encoding", "standalone"};
            static const char* const Defaults[] = {" version=\"1.0\"", " encoding=\"UTF-8\"", " standalone=\"yes\""};
            for (int i = 0; i < 3; ++i) {
                if (const TMz_XmlAttribute* a = fAttributes.Find(Names[i])) a->toStream(pWriter);
                else pWriter.write(Defaults[i]);
            }
        } else {
            for (const TMz_XmlAttribute* a : fAttributes) a->toStream(pWriter);
        }
        pWriter.write("?>");
        if (b) pWriter.crlf();
        // Text read after the declaration is its own; it is written back in
        // the same place so that a saved document reads back the same.
        if (!fValue.empty()) {
            CheckText(*this, qname);
            pWriter.write(fValue.view());
            if (b) pWriter.crlf();
        }
        for (const TMz_XmlElement* c : fNodes) c->toStream(pWriter);
        return;
    }
    case mzData:
    case mzComment: {
        // The section's own name is not written: the parser names these nodes
        // itself and would otherwise read the name back as part of the text.
        const bool data = fKind == mzData;
        const char* terminator = data ? "]]>" : "-->";
        if (fValue.view().find(terminator) != std::string_view::npos) {
            const TMz_XmlNode* owner = fParent ? fParent : this;
            throw EMz_XmlStoringError::Fmt(fDocument, "%s in element \"%s\" holds \"%s\"",
                                           data ? "CDATA section" : "comment", owner->getQualifiedName(), terminator);
        }
        pWriter.write(data ? "<![CDATA[" : "<!--", b);
        pWriter.write(fValue.view());
        pWriter.write(terminator);
        if (b) pWriter.crlf();
        return;
    }
    default: throw EMz_XmlStoringError(fDocument, "invalid node kind");
    }
}

// ---- TMz_XmlAttribute, TMz_XmlNamespace ----

TMz_XmlAttribute::TMz_XmlAttribute(TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string_view pNamespace,
                                   std::string_view pName)
    : TMz_XmlAttribute(TUnattached{}, pDocument, pParent, pNamespace, pName)
{
    if (auto* e = ElementOf(pParent)) {
        e->Touch();
        e->Retire(e->fAttributes.Put(this));
    }
}

TMz_XmlAttribute::TMz_XmlAttribute(TUnattached, TMz_XmlDocument* pDocument, TMz_XmlNode* pParent,
                                   std::string_view pNamespace, std::string_view pName)
    : TMz_XmlNode(pDocument, pParent, pNamespace, pName)
{
    fKind = mzAttribute;
    fClassTag = ctAttribute;
}

TMz_XmlAttribute::TMz_XmlAttribute(TParsed, TMz_XmlDocument* pDocument, TMz_XmlElement* pParent,
                                   std::string_view pQualified, size_t pPrefix, TMz_XmlNodeArena* pArena)
    : TMz_XmlNode(TParsed{}, pDocument, pParent, pQualified, pPrefix)
{
    fKind = mzAttribute;
    fClassTag = ctAttribute;
    TMz_XmlAttribute* replaced = pParent->fAttributes.Put(this, pArena);
    // Memory beyond the arena: a replaced attribute kept, or a hash index.
    if (replaced || pParent->fAttributes.FIndex) pDocument->fPlainTree = false;
    pParent->Retire(replaced);
}

TMz_XmlAttribute::TMz_XmlAttribute(TParsed, TUnattached, TMz_XmlDocument* pDocument, TMz_XmlElement* pParent,
                                   std::string_view pName)
    : TMz_XmlNode(TParsed{}, pDocument, pParent, pName, 0)
{
    fKind = mzAttribute;
    fClassTag = ctAttribute;
}

bool TMz_XmlAttribute::defined(std::string_view pNamespace) const { return DeclaredFrom(fParent, pNamespace); }

namespace {

void WriteQuoted(TMz_StreamWriter& pWriter, const TMz_XmlNode& ANode, std::string_view AName)
{
    const std::string_view v = ANode.getRawValue();
    // Values are written as held; one with a double quote goes in single
    // quotes, which the parser reads back the same.
    char quote = '"';
    if (v.find('"') != std::string::npos) {
        if (v.find('\'') != std::string::npos) {
            const TMz_XmlNode* owner = ANode.parent() ? ANode.parent() : &ANode;
            throw EMz_XmlStoringError::Fmt(ANode.document(),
                                           "value of attribute \"%s\" in element \"%s\" holds both quote characters",
                                           std::string(AName), owner->getQualifiedName());
        }
        quote = '\'';
    }
    pWriter.write(" ");
    pWriter.write(AName);
    const char open[2] = {'=', quote};
    pWriter.write(std::string_view(open, 2));
    pWriter.write(v);
    pWriter.write(std::string_view(&quote, 1));
}

} // namespace

void TMz_XmlAttribute::toStream(TMz_StreamWriter& pWriter) const
{
    const std::string qname = getQualifiedName();
    CheckName(*this, qname, "attribute");
    WriteQuoted(pWriter, *this, qname);
}

TMz_XmlNamespace::TMz_XmlNamespace(TMz_XmlDocument* pDocument, TMz_XmlNode* pParent, std::string_view pNamespace,
                                   std::string_view pName)
    : TMz_XmlAttribute(TUnattached{}, pDocument, pParent, pNamespace, pName)
{
    fKind = mzNamespace;
    fClassTag = ctNamespace;
    if (auto* e = ElementOf(pParent)) {
        e->Touch();
        if (!e->fNamespaces) e->fNamespaces = std::make_unique<TMz_XmlNamespaces>();
        e->Retire(e->fNamespaces->Put(this));
    }
}

TMz_XmlNamespace::TMz_XmlNamespace(TParsed, TMz_XmlDocument* pDocument, TMz_XmlElement* pParent,
                                   std::string_view pName)
    : TMz_XmlAttribute(TParsed{}, TUnattached{}, pDocument, pParent, pName)
{
    fKind = mzNamespace;
    fClassTag = ctNamespace;
    // The declarations live on the heap.
    pDocument->fPlainTree = false;
    if (!pParent->fNamespaces) pParent->fNamespaces = std::make_unique<TMz_XmlNamespaces>();
    pParent->Retire(pParent->fNamespaces->Put(this));
}

void TMz_XmlNamespace::toStream(TMz_StreamWriter& pWriter) const
{
    const std::string prefix = getQualifiedName();
    if (!IsWritableName(prefix) || prefix.find(':') != std::string::npos)
        throw EMz_XmlStoringError::Fmt(document(), "invalid namespace prefix \"%s\"", prefix);
    WriteQuoted(pWriter, *this, "xmlns:" + prefix);
}

} // namespace korvane
