// The XML parser on hostile bytes: it raises EMz_XmlParseError or builds a
// tree; a tree it builds is written back (indented and flat), and the text
// written parses again to the same tree and writes the same text.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Korvane.Xml.Document.h"
#include "Korvane.Xml.Node.h"
#include "Platform.Classes.h"

using korvane::fuzz::Fail;

using namespace korvane;

namespace {

bool HoldsDocType(const TMz_XmlNode* ANode)
{
    std::vector<const TMz_XmlNode*> work{ANode};
    while (!work.empty()) {
        const TMz_XmlNode* n = work.back();
        work.pop_back();
        if (n->kind() == mzDocType) return true;
        if (const TMz_XmlElement* e = n->AsElement())
            if (e->nodes())
                for (const TMz_XmlElement* c : *e->nodes()) work.push_back(c);
    }
    return false;
}

// Same kinds, names, texts, attributes, declarations and children; the
// declaration's own attributes are left out (it is written with its defaults).
bool SameTree(const TMz_XmlNode* a, const TMz_XmlNode* b, bool AIsRoot)
{
    if (a->kind() != b->kind() || a->getQualifiedName() != b->getQualifiedName() ||
        a->getRawValue() != b->getRawValue())
        return false;
    const TMz_XmlElement* ea = a->AsElement();
    const TMz_XmlElement* eb = b->AsElement();
    if (!ea || !eb) return !ea && !eb;
    if (!AIsRoot) {
        if (ea->attributes().Count() != eb->attributes().Count()) return false;
        for (const TMz_XmlAttribute* x : ea->attributes()) {
            const TMz_XmlAttribute* y = eb->attributes().Find(x->getQualifiedName());
            if (!y || y->getRawValue() != x->getRawValue()) return false;
        }
        if (ea->namespaces().Count() != eb->namespaces().Count()) return false;
        for (const TMz_XmlNamespace* x : ea->namespaces()) {
            const TMz_XmlNamespace* y = eb->namespace_(x->name());
            if (!y || y->getRawValue() != x->getRawValue()) return false;
        }
    }
    const int na = ea->nodes() ? ea->nodes()->Count() : 0;
    const int nb = eb->nodes() ? eb->nodes()->Count() : 0;
    if (na != nb) return false;
    for (int i = 0; i < na; ++i)
        if (!SameTree((*ea->nodes())[i], (*eb->nodes())[i], false)) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    TOwned<TMz_XmlDocument> doc(new TMz_XmlDocument());
    try {
        doc->loadFromBytes(std::vector<uint8_t>(AData, AData + ASize));
    } catch (const EMz_XmlParseError&) {
        return 0;
    }
    if (!doc->root()) return 0;
    for (bool beautify : {true, false}) {
        std::string written;
        try {
            written = doc->saveToString(beautify);
        } catch (const EMz_XmlStoringError& e) {
            // A DOCTYPE section is the one construct the file format does not store again.
            if (HoldsDocType(doc->root())) return 0;
            Fail("a parsed tree could not be written", e.Message());
        }
        TOwned<TMz_XmlDocument> again(new TMz_XmlDocument());
        try {
            again->loadFromString(written);
        } catch (const EMz_XmlParseError& e) {
            Fail("written text did not parse", e.Message() + "\n" + written);
        }
        if (!again->root() || !SameTree(doc->root(), again->root(), true))
            Fail("written text parsed to another tree", written);
        if (again->saveToString(beautify) != written) Fail("writing the tree again gave other text", written);
    }
    return 0;
}
