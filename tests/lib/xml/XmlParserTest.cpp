// The parser: trees read from text, exact error texts with their UTF-16
// positions, encodings, the node-factory hook, round trips and hostile input.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "Korvane.Xml.Document.h"
#include "Korvane.Xml.Node.h"
#include "Korvane.Xml.Parser.h"
#include "Platform.Streams.h"
#include "XmlTestSupport.h"

using namespace korvane;
using namespace korvane::test;

namespace {

const std::string Decl = "<?xml version=\"1.0\"?>"; // 21 characters

TMz_XmlElement* Child(const TMz_XmlNode* ANode, int AIndex)
{
    const auto* e = dynamic_cast<const TMz_XmlElement*>(ANode);
    if (!e || !e->nodes() || AIndex >= e->nodes()->Count()) return nullptr;
    return (*e->nodes())[AIndex];
}

int ChildCount(const TMz_XmlNode* ANode)
{
    const auto* e = dynamic_cast<const TMz_XmlElement*>(ANode);
    return e && e->nodes() ? e->nodes()->Count() : 0;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// UTF-16 bytes of ASCII-or-BMP text given as code points, with the mark of the byte order.
std::vector<uint8_t> Utf16(const std::u16string& s, bool bigEndian)
{
    std::vector<uint8_t> out = bigEndian ? std::vector<uint8_t>{0xFE, 0xFF} : std::vector<uint8_t>{0xFF, 0xFE};
    for (char16_t c : s) {
        const uint8_t hi = uint8_t(c >> 8), lo = uint8_t(c & 0xFF);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    }
    return out;
}

} // namespace

TEST(XmlParser, ReadsTheTreesOfWellFormedInput)
{
    struct TCase {
        const char* Name;
        std::string Text;
        std::function<void(const TMz_XmlDocument&)> Check;
    };
    const TCase cases[] = {
        {"declaration as root, attributes without a blank between them",
         "<?xml version=\"1.0\"?><a b=\"1\"c='2'/>",
         [](const TMz_XmlDocument& d) {
             ASSERT_NE(d.root(), nullptr);
             EXPECT_EQ(d.root()->kind(), mzDocument);
             EXPECT_EQ(d.root()->name(), "xml");
             EXPECT_EQ(ChildCount(d.root()), 1);
             const TMz_XmlElement* a = Child(d.root(), 0);
             EXPECT_EQ(a->name(), "a");
             EXPECT_EQ(a->attribute_raw("b"), "1");
             EXPECT_EQ(a->attribute_raw("c"), "2");
             EXPECT_TRUE(a->closed());
             EXPECT_EQ(a->attributes().Count(), 2);
         }},
        {"no declaration leaves the root empty", "<a><b/></a>",
         [](const TMz_XmlDocument& d) { EXPECT_EQ(d.root(), nullptr); }},
        {"text around a child is joined", Decl + "<a>x<b/>y</a>",
         [](const TMz_XmlDocument& d) {
             const TMz_XmlElement* a = Child(d.root(), 0);
             EXPECT_EQ(a->getRawValue(), "xy");
             EXPECT_EQ(ChildCount(a), 1);
             EXPECT_EQ(Child(a, 0)->name(), "b");
         }},
        {"text is trimmed", Decl + "<a>  x  </a><b>\r\n\t\x01 two words\x02\t\r\n</b>",
         [](const TMz_XmlDocument& d) {
             EXPECT_EQ(Child(d.root(), 0)->getRawValue(), "x");
             EXPECT_EQ(Child(d.root(), 1)->getRawValue(), "two words");
         }},
        {"references are not decoded", Decl + "<a v=\"&amp;&#65;\">&amp;&lt;</a>",
         [](const TMz_XmlDocument& d) {
             EXPECT_EQ(Child(d.root(), 0)->getRawValue(), "&amp;&lt;");
             EXPECT_EQ(Child(d.root(), 0)->attribute_raw("v"), "&amp;&#65;");
         }},
        {"a comment keeps its text untrimmed", Decl + "<a><!-- a -- b --></a>",
         [](const TMz_XmlDocument& d) {
             const TMz_XmlElement* c = Child(Child(d.root(), 0), 0);
             ASSERT_NE(c, nullptr);
             EXPECT_EQ(c->kind(), mzComment);
             EXPECT_EQ(c->name(), "COMMENT");
             EXPECT_EQ(c->getRawValue(), " a -- b ");
             EXPECT_TRUE(c->closed());
         }},
        {"CDATA keeps everything up to its end", Decl + "<a><![CDATA[<x> & ]] ]>]]></a>",
         [](const TMz_XmlDocument& d) {
             const TMz_XmlElement* c = Child(Child(d.root(), 0), 0);
             EXPECT_EQ(c->kind(), mzData);
             EXPECT_EQ(c->name(), "CDATA");
             EXPECT_EQ(c->getRawValue(), "<x> & ]] ]>");
         }},
        {"a simple DOCTYPE", Decl + "<!doctype html><r/>",
         [](const TMz_XmlDocument& d) {
             EXPECT_EQ(Child(d.root(), 0)->kind(), mzDocType);
             EXPECT_EQ(Child(d.root(), 0)->getRawValue(), " html");
             EXPECT_EQ(Child(d.root(), 1)->name(), "r");
         }},
        {"quoted values keep line breaks, markup and the other quote", Decl + "<a v='x\r\n<\"y\">'/>",
         [](const TMz_XmlDocument& d) { EXPECT_EQ(Child(d.root(), 0)->attribute_raw("v"), "x\r\n<\"y\">"); }},
        {"an attribute without a value before \"/\" or \">\"", Decl + "<a b/><c d >t</c>",
         [](const TMz_XmlDocument& d) {
             EXPECT_NE(Child(d.root(), 0)->attributes().Find("b"), nullptr);
             EXPECT_EQ(Child(d.root(), 0)->attribute_raw("b"), "");
             EXPECT_NE(Child(d.root(), 1)->attributes().Find("d"), nullptr);
             EXPECT_EQ(Child(d.root(), 1)->getRawValue(), "t");
         }},
        {"a repeated attribute keeps the last value", Decl + "<a b=\"1\" b=\"2\"/>",
         [](const TMz_XmlDocument& d) {
             EXPECT_EQ(Child(d.root(), 0)->attribute_raw("b"), "2");
             EXPECT_EQ(Child(d.root(), 0)->attributes().Count(), 1);
         }},
        {"namespaces declared on the element or an ancestor",
         Decl + "<x:a xmlns:x=\"urn:x\" x:v=\"1\"><x:b/><c xmlns:y='urn:y'><y:d/></c></x:a>",
         [](const TMz_XmlDocument& d) {
             const TMz_XmlElement* a = Child(d.root(), 0);
             EXPECT_EQ(a->namespace_(), "x");
             EXPECT_EQ(a->name(), "a");
             ASSERT_NE(a->namespace_("x"), nullptr);
             EXPECT_EQ(a->namespace_("x")->getRawValue(), "urn:x");
             EXPECT_EQ(a->attributes().Find("x:v")->getRawValue(), "1");
             EXPECT_EQ(Child(a, 0)->getQualifiedName(), "x:b");
             EXPECT_EQ(Child(Child(a, 1), 0)->getQualifiedName(), "y:d");
         }},
        {"blanks after the prefix's colon", Decl + "<x: a xmlns:x=\"u\" x: v=\"1\"/>",
         [](const TMz_XmlDocument& d) {
             const TMz_XmlElement* a = Child(d.root(), 0);
             EXPECT_EQ(a->namespace_(), "x");
             EXPECT_EQ(a->name(), "a");
             ASSERT_NE(a->attributes().Find("x:v"), nullptr);
             EXPECT_EQ(a->attributes().Find("x:v")->name(), "v");
             EXPECT_EQ(a->attribute_raw("x:v"), "1");
         }},
        {"a plain xmlns attribute is an ordinary attribute", Decl + "<a xmlns=\"urn:d\"/>",
         [](const TMz_XmlDocument& d) { EXPECT_EQ(Child(d.root(), 0)->attribute_raw("xmlns"), "urn:d"); }},
        {"an end tag may hold blanks before its name", Decl + "<a></ a>",
         [](const TMz_XmlDocument& d) { EXPECT_TRUE(Child(d.root(), 0)->closed()); }},
        {"a character dropped after \"<!\" is dropped whole", Decl + "<a><!\xC3\xA4x</a>",
         [](const TMz_XmlDocument& d) { EXPECT_EQ(Child(d.root(), 0)->getRawValue(), "x"); }},
        {"several top-level elements hang under the declaration", Decl + "\r\n<a/>\r\n<b/>\r\n",
         [](const TMz_XmlDocument& d) { EXPECT_EQ(ChildCount(d.root()), 2); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TXmlDoc d = NewXmlDoc();
        ASSERT_NO_THROW(d->loadFromString(c.Text));
        c.Check(*d);
    }
}

TEST(XmlParser, CountsEveryMarkupOpening)
{
    TXmlDoc d = ParseXml(Decl + "<a><!--c--><![CDATA[x]]><b/></a>");
    EXPECT_EQ(d->node_count(), 6); // declaration, <a>, comment, CDATA, <b/>, </a>
}

TEST(XmlParser, ReportsErrorsWithTheirPositions)
{
    const std::pair<std::string, std::string> cases[] = {
        {"<a></a >", "invalid character in closing tag a [\"\" at 7]"},
        {"<a></A>", "failed to close tag \"a\" - closing tag \"A\" found instead [\"\" at 6]"},
        {"<x:a xmlns:x='u'></a>", "failed to close tag \"a\" - closing tag \"a\" found instead [\"\" at 20]"},
        {"<\xC3\xA4/>", "invalid character for token [\"\" at 2]"},
        {"<a::b/>", "invalid character for token [\"\" at 4]"},
        {"<a b=\"1/>", "tag \"a\" not closed [\"\" at 9]"},
        // Reading the end of the data moves the position past it.
        {"<a>text", "tag \"a\" not closed [\"\" at 8]"},
        {std::string("<a>\0</a>", 8), "tag \"a\" not closed [\"\" at 4]"},
        {"<a>>", "invalid character \">\" found [\"\" at 4]"},
        {"hello", "node values only allowed for element nodes [\"\" at 1]"},
        {"</a>", "parent node is not a xml element [\"\" at 2]"},
        {Decl + "</xml>", "parent node is not a xml element [\"\" at 23]"},
        {Decl + "<?xml-stylesheet href=\"a\"?>", "xml header already exist [\"\" at 37]"},
        {"<?php echo?>", "xml header expected [\"\" at 5]"},
        {"<?x:xml?>", "namespace declaration not allowed for xml core node [\"\" at 3]"},
        {Decl + "<!DOCTYPE r [<!ENTITY x \"y\">]><r/>", "invalid character \">\" found [\"\" at 51]"},
        {"<a b c=\"1\"/>", "invalid character while parsing attribute \"b\" [\"\" at 6]"},
        {"<a xmlns:p x/>", "invalid character while parsing namespace \"p\" [\"\" at 12]"},
        {"<a b=1/>", "invalid character [\"\" at 6]"},
        {"<a x:b=\"1\"/>", "namespace \"x\" not defined for attribute \"b\" [\"\" at 10]"},
        {"<x:a/>", "namespace \"x\" not defined for tag \"a\" [\"\" at 6]"},
        {"<a x:", "incomplete namespace declaration \"x\" for attribute name [\"\" at 5]"},
        {"<x:", "incomplete namespace declaration \"x\" for tag name [\"\" at 3]"},
        {"< ", "invalid char in tag name [\"\" at 2]"},
        {"<a/ >", "\">\" expected behind \"/\" [\"\" at 4]"},
        {"<a ?>", "invalid charater \"?\" - only allowed for xml header tag [\"\" at 4]"},
        {"<?xml ?x", "invalid charater - \">\" expected behind \"?\" [\"\" at 8]"},
        {std::string("<a \0/>", 6), "unexpected end of data (#0) [\"\" at 4]"},
        {"<a b", "tag \"a\" not closed [\"\" at 4]"},
        {"<!- x -->", "\"<!--\" expected for valid comment, but \"<!-\" found [\"\" at 4]"},
        {"<!-- x", "invalid character found - \"-\" expected [\"\" at 7]"},
        {"<!-- x --", "invalid character found - \"-\" expected [\"\" at 10]"},
        // Other "<!" markup is dropped: "/" is then text of a, and ">" fails.
        {"<a><!x/></a>", "invalid character \">\" found [\"\" at 8]"},
        {"<![CDATX[", "invalid character - \"CDATA[\" expected behind \"<![\" [\"\" at 8]"},
        {"<![CDATA x", "invalid character - \"[\" expected behind \"<![CDATA\" [\"\" at 9]"},
        {"<![CDATA[x]]", "invalid character found - \"]\" expected [\"\" at 13]"},
        {"<!DOCTIPE x>", "\"<!DOCTYPE\" expected for valid doctype-definition, but \"<!D?\" found [\"\" at 9]"},
        {"<!DOCTYPE x", "invalid character found - \">\" expected [\"\" at 12]"},
        {Decl + "<?xml version=\"1.0\"?>", "xml header already exist [\"\" at 26]"},
        {"<?xml version=\"1.0\"/>x", "invalid character found [\"\" at 22]"},
        {"<?xml xmlns:p=\"u\"?>", "failed to define namespace in none element node \"xml\" [\"\" at 13]"},
    };
    for (const auto& [text, message] : cases) {
        TXmlDoc d = NewXmlDoc();
        EXPECT_EQ(MessageOf<EMz_XmlParseError>([&] { d->loadFromString(text); }), message) << text;
    }
}

TEST(XmlParser, PositionsCountUtf16CharactersWithoutTheMark)
{
    // "é" is one UTF-16 character, the emoji two; the mark is not counted.
    const std::string text = "\xEF\xBB\xBF<a>\xC3\xA9\xF0\x9F\x98\x80</b>";
    TXmlDoc d = NewXmlDoc();
    EXPECT_EQ(MessageOf<EMz_XmlParseError>([&] { d->loadFromBytes(Bytes(text)); }),
              "failed to close tag \"a\" - closing tag \"b\" found instead [\"\" at 9]");

    // Invalid UTF-8 becomes one replacement character per bad sequence.
    TXmlDoc bad = NewXmlDoc();
    EXPECT_EQ(MessageOf<EMz_XmlParseError>([&] { bad->loadFromBytes(Bytes("<a>\xFF\xC3</b>")); }),
              "failed to close tag \"a\" - closing tag \"b\" found instead [\"\" at 8]");
}

TEST(XmlParser, Utf16FilesWithTheirMarksReadTheSameAsUtf8)
{
    const std::u16string text = u"<?xml version=\"1.0\"?><a v=\"\u00e9\u4e2d\">\u00fcber<b/></a>";
    const std::string utf8 = "<?xml version=\"1.0\"?><a v=\"\xC3\xA9\xE4\xB8\xAD\">\xC3\xBC" "ber<b/></a>";
    TXmlDoc reference = ParseXml(utf8);
    for (bool bigEndian : {false, true}) {
        TXmlDoc d = NewXmlDoc();
        TBytesStream stream(Utf16(text, bigEndian));
        stream.SetPosition(5); // loading reads from the start
        d->loadFromStream(&stream);
        EXPECT_EQ(XmlTreeDifference(reference->root(), d->root()), "") << bigEndian;

        TXmlDoc broken = NewXmlDoc();
        EXPECT_EQ(MessageOf<EMz_XmlParseError>([&] { broken->loadFromBytes(Utf16(u"<a>\u00e9</b>", bigEndian)); }),
                  "failed to close tag \"a\" - closing tag \"b\" found instead [\"\" at 7]");
    }
    // With the UTF-8 mark too.
    TXmlDoc marked = NewXmlDoc();
    marked->loadFromBytes(Bytes("\xEF\xBB\xBF" + utf8));
    EXPECT_EQ(XmlTreeDifference(reference->root(), marked->root()), "");
}

TEST(XmlParser, FileErrorsNameTheFile)
{
    TempFolder folder;
    const std::string file = folder.Path("broken.xml");
    {
        std::ofstream(file, std::ios::binary) << "<?xml version=\"1.0\"?>\r\n<a>";
    }
    TXmlDoc d = NewXmlDoc();
    EXPECT_EQ(MessageOf<EMz_XmlParseError>([&] { d->loadFromFile(file); }),
              "tag \"a\" not closed [\"" + file + "\" at 27]");
    EXPECT_EQ(d->filename(), file);
    EXPECT_THROW(NewXmlDoc()->loadFromFile(folder.Path("missing.xml")), EFOpenError);
}

TEST(XmlParser, TheHookMakesTheNodesItWants)
{
    struct TItem : TMz_XmlElement {
        using TMz_XmlElement::TMz_XmlElement;
    };
    TXmlDoc d = NewXmlDoc();
    std::vector<std::string> seen;
    d->setOnCreateNode([&](TMz_XmlDocument* doc, TMz_StreamReader* reader, TMz_XmlNode* parent,
                           const std::string& ns, const std::string& name, TMz_XmlNodeKind kind, TMz_XmlNode*& node) {
        EXPECT_EQ(doc, d.get());
        EXPECT_NE(reader, nullptr);
        seen.push_back(std::to_string(int(kind)) + ":" + ns + ":" + name + (parent ? "<" + std::string(parent->name()) : ""));
        if (name == "item") {
            node = new TItem(doc, parent, ns, name);
        } else if (kind == mzAttribute && name == "fixed") {
            // A node from the hook reads its own value from the reader.
            auto* a = new TMz_XmlAttribute(doc, parent, ns, name);
            while (reader->Read() != '"') {
            }
            std::string v;
            for (int c = reader->Read(); c != '"' && c != TMz_StreamReader::EndOfData; c = reader->Read())
                v.push_back(char(c));
            a->setRawValue("hook:" + v);
            node = a;
        }
    });
    d->loadFromString("<?xml version=\"1.0\"?><list xmlns:p=\"u\"><item fixed=\"x\" p:n=\"1\"/><!--c--></list>");
    const std::vector<std::string> expected = {"1::xml",        "6::version<xml",   "0::list<xml", "0::item<list",
                                               "6::fixed<item", "6:p:n<item",       "5::COMMENT<list"};
    EXPECT_EQ(seen, expected);
    const TMz_XmlElement* item = Child(Child(d->root(), 0), 0);
    ASSERT_NE(dynamic_cast<const TItem*>(item), nullptr);
    EXPECT_EQ(item->attribute_raw("fixed"), "hook:x");
    EXPECT_EQ(item->attribute_raw("p:n"), "1");
}

TEST(XmlParser, LoadingAddsToTheDocument)
{
    TXmlDoc d = ParseXml(Decl + "<a/>");
    EXPECT_EQ(MessageOf<EMz_XmlParseError>([&] { d->loadFromString(Decl); }),
              "xml header already exist [\"\" at 5]");
    // Elements read before any declaration are built and checked, and a later
    // declaration still becomes the root.
    TXmlDoc late = ParseXml("<early/>" + Decl + "<b/>");
    ASSERT_NE(late->root(), nullptr);
    EXPECT_EQ(ChildCount(late->root()), 1);
    EXPECT_EQ(Child(late->root(), 0)->name(), "b");
}

TEST(XmlParser, ParsedTextOutlivesTheBytesAndMovesWithItsNodes)
{
    const std::string text = Decl + "<list xmlns:p=\"urn:p\"><p:item id=\"7\">sword<![CDATA[c]]></p:item><z k=\"v\"/></list>";
    TXmlDoc source = NewXmlDoc();
    {
        std::vector<uint8_t> bytes = Bytes(text);
        source->loadFromBytes(bytes);
        std::fill(bytes.begin(), bytes.end(), uint8_t('#')); // the document must not read the caller's bytes
    }
    TMz_XmlElement* list = Child(source->root(), 0);
    TMz_XmlElement* item = Child(list, 0);
    TMz_XmlElement* z = Child(list, 1);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(item->getQualifiedName(), "p:item");
    EXPECT_EQ(item->getRawValue(), "sword");

    // An element and an attribute taken into another document keep their
    // text after the document they were read into is gone.
    TXmlDoc target = ParseXml(Decl + "<box xmlns:p=\"urn:p\"/>");
    TMz_XmlElement* box = Child(target->root(), 0);
    box->add(item);
    box->addAttribute(z->attributes().Find("k"));
    source.reset();
    ASSERT_EQ(ChildCount(box), 1);
    EXPECT_EQ(Child(box, 0)->getQualifiedName(), "p:item");
    EXPECT_EQ(Child(box, 0)->attribute_raw("id"), "7");
    EXPECT_EQ(Child(Child(box, 0), 0)->getRawValue(), "c");
    EXPECT_EQ(box->attribute_raw("k"), "v");
    EXPECT_EQ(target->saveToString(false),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><box xmlns:p=\"urn:p\" k=\"v\">"
              "<p:item id=\"7\">sword<![CDATA[c]]></p:item></box>");
}

TEST(XmlParser, ChangedParsedTreesAreFreedWhole)
{
    // Each change leaves the tree holding memory of its own or nodes from
    // elsewhere; the document must free all of it (the sanitizers check) and
    // write what was changed.
    struct TCase {
        const char* Name;
        std::function<void(TMz_XmlDocument&, TMz_XmlElement&)> Change;
        const char* Written;
    };
    const TCase cases[] = {
        {"new value", [](TMz_XmlDocument&, TMz_XmlElement& a) { a.setRawValue("changed text"); },
         "<a k=\"1\">changed text<b /></a>"},
        {"new name and prefix", [](TMz_XmlDocument&, TMz_XmlElement& a) { Child(&a, 0)->setName("renamed"); },
         "<a k=\"1\">t<renamed /></a>"},
        {"text appended to parsed text",
         [](TMz_XmlDocument& d, TMz_XmlElement&) { d.loadFromString("<late>more</late>"); },
         "<a k=\"1\">t<b /></a>"},
        {"attribute set through its text", [](TMz_XmlDocument&, TMz_XmlElement& a) { a.setAttribute("k", "007"); },
         "<a k=\"7\">t<b /></a>"},
        {"attribute of the program", [](TMz_XmlDocument&, TMz_XmlElement& a) { a.addAttribute("n", 2); },
         "<a k=\"1\" n=\"2\">t<b /></a>"},
        {"child of the program",
         [](TMz_XmlDocument& d, TMz_XmlElement& a) { new TMz_XmlElement(&d, &a, "", "c"); },
         "<a k=\"1\">t<b /><c /></a>"},
        {"child freed on its own", [](TMz_XmlDocument&, TMz_XmlElement& a) { Child(&a, 0)->Free(); },
         "<a k=\"1\">t</a>"},
        {"children cleared", [](TMz_XmlDocument&, TMz_XmlElement& a) { a.clear(); }, "<a k=\"1\">t</a>"},
        {"attribute replaced, the old one kept",
         [](TMz_XmlDocument& d, TMz_XmlElement& a) { a.addAttribute(new TMz_XmlAttribute(&d, nullptr, "", "k")); },
         "<a k=\"\">t<b /></a>"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TXmlDoc d = ParseXml(Decl + "<a k=\"1\">t<b/></a>");
        TMz_XmlElement* a = Child(d->root(), 0);
        c.Change(*d, *a);
        const std::string written = d->saveToString(false);
        EXPECT_EQ(written.substr(written.find("?>") + 2), c.Written);
    }    // A failed load leaves a node whose name is its own outside any tree.
    TXmlDoc failed = NewXmlDoc();
    EXPECT_EQ(MessageOf<EMz_XmlParseError>([&] { failed->loadFromString("<x: a/>"); }),
              "namespace \"x\" not defined for tag \"a\" [\"\" at 7]");
}

TEST(XmlParser, ReaderReadsLinesAndMovesByBytes)
{
    const std::string text = "one\r\ntwo\nthree";
    TMz_StreamReader r(std::string_view(text), meUTF8, true, false);
    EXPECT_EQ(r.ReadLine(), "one");
    EXPECT_EQ(r.Read(), 't');
    EXPECT_EQ(r.Current(), 'w');
    EXPECT_EQ(r.Peek(), 'o');
    r.revert(1);
    EXPECT_EQ(r.ReadLine(), "two");
    EXPECT_EQ(r.ReadToEnd(), "three");
    EXPECT_TRUE(r.eod());
    EXPECT_EQ(r.Read(), TMz_StreamReader::EndOfData);
    EXPECT_THROW(r.revert(100), Exception);
    EXPECT_THROW(r.Peek(), ERangeError);
    r.setPosition(4);
    EXPECT_EQ(r.index(), 4);

    TMz_StreamReader empty(std::string_view(), meUTF8, true, false);
    EXPECT_TRUE(empty.EndOfStream());
    EXPECT_EQ(empty.Read(), TMz_StreamReader::EndOfData);
    EXPECT_EQ(empty.position(), 0);
    EXPECT_THROW(TMz_StreamReader(static_cast<TStream*>(nullptr)), EArgumentException);
}

TEST(XmlRoundTrip, WrittenDocumentsReadBackTheSame)
{
    const std::string cases[] = {
        Decl + "<a/>",
        Decl + "<a b=\"1\" c=\"two words\"><d>text</d><e/></a>",
        Decl + "<a v=\"1 < 2 & 3 > 0\">x &amp; y</a>",
        Decl + "<a v='say \"hi\"' w=\"it's\"/>",
        Decl + "<a>before<b/>after<c>deep<d>er</d></c></a>",
        Decl + "<a><![CDATA[<raw> & \r\n stuff]]><!-- note -- here --></a>",
        Decl + "<x:a xmlns:x=\"urn:x\" x:v=\"1\"><x:b xmlns:y=\"urn:y\" y:w=\"2\"/></x:a>",
        Decl + "<a v=\"line\r\nbreak\tand tab\"/>",
        Decl + "<a>\xC3\xBC\xE4\xB8\xAD\xF0\x9F\x98\x80</a>",
        Decl + "top text<a/>",
        "<?xml-stylesheet href=\"s.xsl\" type=\"text/xsl\"?><a/>",
        Decl + "<a><![CDATA[]]><!----></a>",
        Decl + "<a v=\"\"/><b v=''/>",
    };
    for (const std::string& text : cases) {
        TXmlDoc first = ParseXml(text);
        for (bool beautify : {true, false}) {
            const std::string written = first->saveToString(beautify);
            TXmlDoc second = NewXmlDoc();
            ASSERT_NO_THROW(second->loadFromString(written)) << written;
            // The declaration gains its default attributes when written.
            const std::string diff = XmlTreeDifference(Child(first->root(), 0), Child(second->root(), 0));
            EXPECT_EQ(diff, "") << text << "\n" << written;
            EXPECT_EQ(first->root()->getRawValue(), second->root()->getRawValue());
            EXPECT_EQ(second->saveToString(beautify), written);
        }
    }
}

TEST(XmlHostileInput, DeepNestingFailsWithAClearError)
{
    std::string text = Decl;
    for (int i = 0; i < 100000; ++i) text += "<a>";
    TXmlDoc d = NewXmlDoc();
    EXPECT_EQ(MessageOf<EMz_XmlParseError>([&] { d->loadFromString(text); }),
              "nesting too deep - more than 256 levels of elements [\"\" at " + std::to_string(21 + 256 * 3 + 2) +
                  "]");
    // What was read stays in the document and goes with it.
    EXPECT_EQ(ChildCount(d->root()), 1);
}

TEST(XmlHostileInput, LongValuesAndTextParseWhole)
{
    const std::string value(4 << 20, 'v');
    const std::string body(5 << 20, 't');
    std::string text = Decl + "<a long=\"" + value + "\">" + body + "<b/>" + body + "</a>";
    TXmlDoc d = ParseXml(text);
    const TMz_XmlElement* a = Child(d->root(), 0);
    EXPECT_EQ(a->attribute_raw("long").size(), value.size());
    EXPECT_EQ(a->getRawValue().size(), 2 * body.size());
}

TEST(XmlHostileInput, ManyAttributesAndSiblingsStayFast)
{
    // Hashing past a few attributes keeps a wide element linear.
    std::string text = Decl + "<a";
    for (int i = 0; i < 100000; ++i) text += " k" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    text += ">";
    for (int i = 0; i < 100000; ++i) text += "<c/>";
    text += "</a>";
    TXmlDoc d = ParseXml(text);
    const TMz_XmlElement* a = Child(d->root(), 0);
    EXPECT_EQ(a->attributes().Count(), 100000);
    EXPECT_EQ(a->attribute_raw("k77777"), "77777");
    EXPECT_EQ(ChildCount(a), 100000);
}
