#pragma once
// Helpers of the XML tests: a document per test and a structural comparison
// of two trees that names the first difference.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "Korvane.Xml.Document.h"
#include "Korvane.Xml.Node.h"
#include "TestHelpers.h"

namespace korvane::test {

using TXmlDoc = Owned<TMz_XmlDocument>;

inline TXmlDoc NewXmlDoc() { return TXmlDoc(new TMz_XmlDocument()); }

inline TXmlDoc ParseXml(const std::string& AText)
{
    TXmlDoc d = NewXmlDoc();
    d->loadFromString(AText);
    return d;
}

// "" when both trees hold the same nodes (kind, names, raw text, attributes,
// namespace declarations, children in order), else where they first differ.
inline std::string XmlTreeDifference(const TMz_XmlNode* a, const TMz_XmlNode* b, const std::string& path = "/")
{
    if (!a || !b) return a == b ? "" : path + ": one tree has no node";
    const std::string here = path + a->getQualifiedName();
    if (a->kind() != b->kind()) return here + ": kind differs";
    if (a->getQualifiedName() != b->getQualifiedName()) return here + ": name differs (" + b->getQualifiedName() + ")";
    if (a->getRawValue() != b->getRawValue())
        return here + ": text \"" + std::string(a->getRawValue()) + "\" vs \"" + std::string(b->getRawValue()) +
               "\"";
    const auto* ea = dynamic_cast<const TMz_XmlElement*>(a);
    const auto* eb = dynamic_cast<const TMz_XmlElement*>(b);
    if (!ea || !eb) return (ea == nullptr) == (eb == nullptr) ? "" : here + ": element class differs";
    auto attrs = [](const TMz_XmlElement* e) {
        std::map<std::string, std::string> m;
        for (const TMz_XmlAttribute* x : e->attributes()) m[x->getQualifiedName()] = x->getRawValue();
        for (const TMz_XmlNamespace* x : e->namespaces()) m["xmlns:" + x->getQualifiedName()] = x->getRawValue();
        return m;
    };
    if (attrs(ea) != attrs(eb)) return here + ": attributes differ";
    const int na = ea->nodes() ? ea->nodes()->Count() : 0;
    const int nb = eb->nodes() ? eb->nodes()->Count() : 0;
    if (na != nb) return here + ": " + std::to_string(na) + " vs " + std::to_string(nb) + " children";
    for (int i = 0; i < na; ++i) {
        const std::string d = XmlTreeDifference((*ea->nodes())[i], (*eb->nodes())[i], here + "/");
        if (!d.empty()) return d;
    }
    return "";
}

} // namespace korvane::test
