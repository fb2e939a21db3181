// The document model and the writer: exact bytes of saved documents, typed
// attribute values, values the plain form cannot carry, and ownership.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "Korvane.Xml.Document.h"
#include "Korvane.Xml.Node.h"
#include "Platform.Streams.h"
#include "XmlTestSupport.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// A document whose root is the declaration "xml" with no attributes.
struct TBuiltDoc {
    TXmlDoc Doc = NewXmlDoc();
    TMz_XmlElement* Decl;
    TBuiltDoc()
    {
        Decl = new TMz_XmlElement(Doc.get(), nullptr, "", "xml");
        Decl->setKind(mzDocument);
        Doc->setRoot(Decl);
    }
    TMz_XmlElement* Add(TMz_XmlNode* AParent, const std::string& AName, TMz_XmlNodeKind AKind = mzDefault)
    {
        auto* e = new TMz_XmlElement(Doc.get(), AParent, "", AName);
        e->setKind(AKind);
        return e;
    }
};

const std::string Header = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";

} // namespace

TEST(XmlWriter, WritesEachConstructAsTheFileFormatShowsIt)
{
    struct TCase {
        const char* Name;
        std::function<void(TBuiltDoc&)> Build;
        std::string Expected;
    };
    const TCase cases[] = {
        {"empty element", [](TBuiltDoc& b) { b.Add(b.Decl, "tag"); }, Header + "<tag />\r\n"},
        {"element with text", [](TBuiltDoc& b) { b.Add(b.Decl, "tag")->setRawValue("a"); },
         Header + "<tag>a</tag>\r\n"},
        {"children removed, text kept: closing tag on its own indented line",
         [](TBuiltDoc& b) {
             auto* outer = b.Add(b.Decl, "outer");
             auto* tag = b.Add(outer, "tag");
             tag->setRawValue("a");
             tag->remove(b.Add(tag, "gone"));
         },
         Header + "<outer>\r\n\t<tag>a\r\n\t</tag>\r\n</outer>\r\n"},
        {"children removed, no text", [](TBuiltDoc& b) {
             auto* tag = b.Add(b.Decl, "tag");
             tag->clear();
             tag->remove(b.Add(tag, "gone"));
         },
         Header + "<tag />\r\n"},
        {"declaration keeps its own version and encoding, adds standalone",
         [](TBuiltDoc& b) {
             b.Decl->setAttribute_raw("version", "1.0");
             b.Decl->setAttribute_raw("encoding", "UTF-8");
         },
         Header},
        {"declaration writes only its three attributes, in order",
         [](TBuiltDoc& b) {
             b.Decl->setAttribute_raw("standalone", "no");
             b.Decl->setAttribute_raw("other", "x");
             b.Decl->setAttribute_raw("version", "1.1");
         },
         "<?xml version=\"1.1\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n"},
        {"nesting, attributes, text with children, CDATA and comment",
         [](TBuiltDoc& b) {
             auto* inv = b.Add(b.Decl, "inventory");
             inv->addAttribute("count", int32_t(2));
             auto* item = b.Add(inv, "item");
             item->setRawValue("sword");
             item->addAttribute("id", "a<b&c");
             b.Add(item, "", mzData)->setRawValue("line 1\r\nline 2");
             b.Add(inv, "", mzComment)->setRawValue(" note ");
         },
         Header +
             "<inventory count=\"2\">\r\n\t<item id=\"a<b&c\">sword\r\n\t\t<![CDATA[line 1\r\nline 2]]>\r\n\t</item>\r\n"
             "\t<!-- note -->\r\n</inventory>\r\n"},
        {"stylesheet root writes every attribute",
         [](TBuiltDoc& b) {
             b.Decl->setName("xml-stylesheet");
             b.Decl->setKind(mzStylesheet);
             b.Decl->setAttribute_raw("href", "s.css");
         },
         "<?xml-stylesheet href=\"s.css\"?>\r\n"},
    };
    for (const TCase& c : cases) {
        TBuiltDoc b;
        c.Build(b);
        EXPECT_EQ(b.Doc->saveToString(true), c.Expected) << c.Name;
    }
}

TEST(XmlWriter, WithoutBeautifyingEverythingIsOnOneLine)
{
    TBuiltDoc b;
    auto* a = b.Add(b.Decl, "a");
    b.Add(a, "b")->setRawValue("x");
    b.Add(a, "c");
    EXPECT_EQ(b.Doc->saveToString(false),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><a><b>x</b><c /></a>");
}

TEST(XmlWriter, NothingIsWrittenWithoutRootOrStream)
{
    TXmlDoc d = NewXmlDoc();
    TStringStream s("old");
    d->saveToStream(&s, true);
    EXPECT_EQ(s.DataString(), "old");
    EXPECT_EQ(d->saveToString(true), "");
    TBuiltDoc b;
    EXPECT_NO_THROW(b.Doc->saveToStream(nullptr, true));
}

TEST(XmlWriter, SavingOverLongerDataEndsWhereTheDocumentEnds)
{
    TBuiltDoc b;
    b.Add(b.Decl, "a");
    const std::string expected = Header + "<a />\r\n";

    TStringStream s(std::string(4000, 'Z'));
    b.Doc->saveToStream(&s, true);
    EXPECT_EQ(s.DataString(), expected);

    TempFolder folder;
    const std::string file = folder.Path("doc.xml");
    {
        std::ofstream(file, std::ios::binary) << std::string(4000, 'Z');
    }
    b.Doc->saveToFile(file, true);
    std::ifstream in(file, std::ios::binary);
    std::stringstream read;
    read << in.rdbuf();
    EXPECT_EQ(read.str(), expected);
    EXPECT_EQ(b.Doc->filename(), file);
    EXPECT_EQ(b.Doc->saveToBytes(true), std::vector<uint8_t>(expected.begin(), expected.end()));
}

TEST(XmlWriter, ADocumentThatCannotBeStoredLeavesTheFileAlone)
{
    TempFolder folder;
    const std::string file = folder.Path("keep.xml");
    {
        std::ofstream(file, std::ios::binary) << "previous";
    }
    TBuiltDoc b;
    b.Add(b.Decl, "a")->setRawValue("1 < 2");
    EXPECT_THROW(b.Doc->saveToFile(file, true), EMz_XmlStoringError);
    std::ifstream in(file, std::ios::binary);
    std::stringstream read;
    read << in.rdbuf();
    EXPECT_EQ(read.str(), "previous");
}

// Values the plain form cannot carry: another form that reads back the same,
// or a storing error naming the node.
TEST(XmlWriter, ValuesThePlainFormCannotCarry)
{
    struct TCase {
        const char* Name;
        std::function<void(TBuiltDoc&)> Build;
        std::string Written; // the element line, or the error message
        bool Raises;
    };
    const TCase cases[] = {
        {"double quote in a value: single quotes",
         [](TBuiltDoc& b) { b.Add(b.Decl, "a")->setAttribute_raw("v", "say \"hi\""); }, "<a v='say \"hi\"' />\r\n",
         false},
        {"both quotes in a value",
         [](TBuiltDoc& b) { b.Add(b.Decl, "a")->setAttribute_raw("v", "it's \"x\""); },
         "value of attribute \"v\" in element \"a\" holds both quote characters [\"\" at 0]", true},
        {"\"<\" in element text", [](TBuiltDoc& b) { b.Add(b.Decl, "a")->setRawValue("1 < 2"); },
         "text of element \"a\" cannot be read back: it holds \"<\", \">\" or NUL, or starts or ends with a blank or "
         "control character [\"\" at 0]",
         true},
        {"blank at the end of element text", [](TBuiltDoc& b) { b.Add(b.Decl, "a")->setRawValue("x "); },
         "text of element \"a\" cannot be read back: it holds \"<\", \">\" or NUL, or starts or ends with a blank or "
         "control character [\"\" at 0]",
         true},
        {"\"]]>\" in CDATA",
         [](TBuiltDoc& b) { b.Add(b.Add(b.Decl, "a"), "", mzData)->setRawValue("x]]>y"); },
         "CDATA section in element \"a\" holds \"]]>\" [\"\" at 0]", true},
        {"\"-->\" in a comment",
         [](TBuiltDoc& b) { b.Add(b.Add(b.Decl, "a"), "", mzComment)->setRawValue("x-->y"); },
         "comment in element \"a\" holds \"-->\" [\"\" at 0]", true},
        {"DOCTYPE node", [](TBuiltDoc& b) { b.Add(b.Decl, "DOCTYPE", mzDocType); },
         "invalid node kind [\"\" at 0]", true},
        {"name with a blank", [](TBuiltDoc& b) { b.Add(b.Decl, "a b"); },
         "invalid tag name \"a b\" [\"\" at 0]", true},
        {"undeclared prefix", [](TBuiltDoc& b) { b.Add(b.Decl, "a")->addAttribute("x:y", int32_t(1)); },
         "namespace \"x\" not defined for attribute \"x:y\" [\"\" at 0]", true},
    };
    for (const TCase& c : cases) {
        TBuiltDoc b;
        c.Build(b);
        if (c.Raises) {
            EXPECT_EQ(MessageOf<EMz_XmlStoringError>([&] { b.Doc->saveToString(true); }), c.Written) << c.Name;
        } else {
            const std::string text = b.Doc->saveToString(true);
            EXPECT_EQ(text, Header + c.Written) << c.Name;
            TXmlDoc back = ParseXml(text);
            EXPECT_EQ(XmlTreeDifference((*b.Decl->nodes())[0], (*dynamic_cast<TMz_XmlElement*>(back->root())->nodes())[0]), "") << c.Name;
        }
    }
}

TEST(XmlWriter, StoringErrorsNameTheDocumentFile)
{
    TBuiltDoc b;
    b.Add(b.Decl, "a", mzDocType);
    b.Doc->setFilename("items.xml");
    EXPECT_EQ(MessageOf<EMz_XmlStoringError>([&] { b.Doc->saveToString(true); }),
              "invalid node kind [\"items.xml\" at 0]");
}

TEST(XmlValue, TextSetThroughTheTypedValueIsNormalised)
{
    const std::pair<const char*, const char*> cases[] = {
        {"007", "7"},   {"1.50", "1.5"}, {"1,5", "1,5"},  {"abc", "abc"}, {"true", "True"}, {"FALSE", "False"},
        {"-3", "-3"},   {".5", "0.5"},   {"0x1F", "31"},  {"+4", "4"},    {"1e5", "1e5"},    {"5 ", "5 "},
        {"", ""},       {"Tom", "Tom"},  {"99999999999", "99999999999"}, {"1.", "1"}, {"-", "-"},
    };
    TBuiltDoc b;
    auto* a = b.Add(b.Decl, "a");
    for (const auto& [in, stored] : cases) {
        a->setAttribute("n", in); // a new attribute
        EXPECT_EQ(a->attribute_raw("n"), stored) << in;
        a->setAttribute("n", in); // the existing one
        EXPECT_EQ(a->attribute_raw("n"), stored) << in;
    }
    a->setAttribute_raw("raw", "007");
    EXPECT_EQ(a->attribute_raw("raw"), "007");
    EXPECT_EQ(a->attribute("raw"), "7");
    EXPECT_EQ(a->attribute("missing"), "");
}

TEST(XmlValue, TypedReadsFollowTheKindOfTheText)
{
    TBuiltDoc b;
    auto* a = b.Add(b.Decl, "a");
    a->setAttribute_raw("int", "12");
    a->setAttribute_raw("comma", "2,5");
    a->setAttribute_raw("float", "1.25");
    a->setAttribute_raw("bool", "TRUE");
    a->setAttribute_raw("text", "abc");
    a->setAttribute_raw("empty", "");

    std::string s = "unchanged";
    EXPECT_THROW(a->getAttribute("int", s), EInvalidCast);
    EXPECT_THROW(a->getAttribute("float", s), EInvalidCast);
    EXPECT_TRUE(a->getAttribute("text", s));
    EXPECT_EQ(s, "abc");
    EXPECT_TRUE(a->getAttribute("empty", s));
    EXPECT_EQ(s, "");
    EXPECT_FALSE(a->getAttribute("missing", s));
    EXPECT_EQ(s, "");

    double d = -1;
    EXPECT_TRUE(a->getAttribute("int", d));
    EXPECT_EQ(d, 12);
    EXPECT_TRUE(a->getAttribute("comma", d));
    EXPECT_EQ(d, 2.5);
    EXPECT_TRUE(a->getAttribute("float", d));
    EXPECT_EQ(d, 1.25);
    EXPECT_FALSE(a->getAttribute("text", d));
    EXPECT_FALSE(a->getAttribute("bool", d));
    EXPECT_FALSE(a->getAttribute("empty", d));
    EXPECT_FALSE(a->getAttribute("missing", d));
    EXPECT_EQ(d, 0);

    int32_t i = -1;
    EXPECT_TRUE(a->getAttribute("int", i));
    EXPECT_EQ(i, 12);
    EXPECT_TRUE(a->getAttribute("empty", i));
    EXPECT_EQ(i, 0);
    EXPECT_THROW(a->getAttribute("float", i), EInvalidCast);
    EXPECT_THROW(a->getAttribute("text", i), EInvalidCast);

    bool flag = false;
    EXPECT_TRUE(a->getAttribute("bool", flag));
    EXPECT_TRUE(flag);
    EXPECT_THROW(a->getAttribute("int", flag), EInvalidCast);

    float f = -1;
    EXPECT_TRUE(a->getAttribute("float", f));
    EXPECT_EQ(f, 1.25f);
    EXPECT_TRUE(a->getAttribute("int", f));
    EXPECT_EQ(f, 12.0f);
    EXPECT_THROW(a->getAttribute("text", f), EInvalidCast);
    EXPECT_THROW(a->getAttribute("bool", f), EInvalidCast);

    TMz_XmlValue v;
    EXPECT_TRUE(a->getAttribute("bool", v));
    EXPECT_EQ(v, TMz_XmlValue::FromBoolean(true));
    EXPECT_EQ(a->attribute("bool"), "True");
    EXPECT_EQ(a->attribute("float"), "1.25");
}

TEST(XmlValue, NumbersAreWrittenInTheGeneralFormOfTheDocumentFormat)
{
    TBuiltDoc b;
    auto* a = b.Add(b.Decl, "a");
    struct TCase {
        std::function<void()> Set;
        const char* Stored;
    };
    const TCase cases[] = {
        {[&] { a->addAttribute("n", 0.5f); }, "0.5"},
        {[&] { a->addAttribute("n", 0.1f); }, "0.100000001490116"},
        {[&] { a->addAttribute("n", 0.1); }, "0.1"},
        {[&] { a->addAttribute("n", 0.000001); }, "1E-6"},
        {[&] { a->addAttribute("n", 1e16); }, "1E16"},
        {[&] { a->addAttribute("n", 123456.75); }, "123456.75"},
        {[&] { a->addAttribute("n", int32_t(-42)); }, "-42"},
        {[&] { a->addAttribute("n", true); }, "True"},
        {[&] { a->addAttribute("n", "text"); }, "text"},
        {[&] { a->addAttribute("n", TMz_XmlValue()); }, ""},
    };
    for (const TCase& c : cases) {
        c.Set();
        EXPECT_EQ(a->attribute_raw("n"), c.Stored);
    }
    // A document with another decimal separator writes and reads with it.
    TFormatSettings comma;
    comma.DecimalSeparator = ',';
    b.Doc->setFormat(comma);
    a->addAttribute("n", 2.5);
    EXPECT_EQ(a->attribute_raw("n"), "2,5");
    double d = 0;
    a->setAttribute_raw("n", "3,25");
    EXPECT_TRUE(a->getAttribute("n", d));
    EXPECT_EQ(d, 3.25);
}

TEST(XmlModel, AttributeNamesWithAColonSplitIntoPrefixAndName)
{
    TBuiltDoc b;
    auto* a = b.Add(b.Decl, "a");
    a->setAttribute_raw("x:y:z", "1");
    const TMz_XmlAttribute* attr = a->attributes().Find("x:y");
    ASSERT_NE(attr, nullptr);
    EXPECT_EQ(attr->namespace_(), "x");
    EXPECT_EQ(attr->name(), "y");
    EXPECT_EQ(MessageOf<EMz_XmlParseError>([&] { a->setAttribute("p:", "1"); }),
              "invalid attribute name - incomplete namespace declaration [\"\" at 0]");
    // addAttribute does not split: the whole text is the local name.
    a->addAttribute("q:r", int32_t(5));
    EXPECT_EQ(a->attributes().Find("q:r")->namespace_(), "");
    EXPECT_EQ(a->attributes().Find("q:r")->name(), "q:r");
}

TEST(XmlModel, FindAndSearchUpwards)
{
    TBuiltDoc b;
    auto* a = b.Add(b.Decl, "a");
    auto* mid = new TMz_XmlElement(b.Doc.get(), a, "p", "mid");
    auto* leaf = b.Add(mid, "leaf");
    b.Add(mid, "leaf2");
    EXPECT_EQ(a->find("mid"), mid);
    EXPECT_EQ(a->find("leaf"), nullptr);
    EXPECT_EQ(mid->find(TMz_XmlElement::StaticClass()), leaf);
    EXPECT_EQ(leaf->searchUpwardsForNode("a"), a);
    EXPECT_EQ(leaf->searchUpwardsForNode("leaf"), nullptr);
    EXPECT_EQ(leaf->searchUpwardsForNode(TMz_XmlElement::StaticClass()), mid);
    EXPECT_EQ(mid->getQualifiedName(), "p:mid");
    EXPECT_TRUE(mid->equals("p", "mid"));
    EXPECT_FALSE(mid->equals("", "mid"));

    auto* ns = new TMz_XmlNamespace(b.Doc.get(), a, "", "p");
    ns->setRawValue("urn:p");
    EXPECT_EQ(a->namespace_("p"), ns);
    EXPECT_EQ(mid->namespace_("p"), nullptr); // ancestors are not searched
    EXPECT_TRUE(leaf->defined("p"));          // but declarations are inherited
    EXPECT_FALSE(a->defined("q"));
    EXPECT_EQ(b.Doc->saveToString(false),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><a xmlns:p=\"urn:p\"><p:mid><leaf />"
              "<leaf2 /></p:mid></a>");
}

TEST(XmlModel, NodesLeaveTheirParentAndStayValidWhileOwned)
{
    TBuiltDoc b;
    auto* a = b.Add(b.Decl, "a");
    auto* first = a->addAttribute("v", int32_t(1));
    auto* second = new TMz_XmlAttribute(b.Doc.get(), a, "", "v"); // replaces the first in the map
    second->setRawValue("2");
    EXPECT_EQ(a->attributes().Find("v"), second);
    EXPECT_EQ(first->getRawValue(), "1"); // still alive: the element keeps it
    a->removeAttribute(second);
    EXPECT_EQ(a->attributes().Count(), 0);
    EXPECT_EQ(second->getRawValue(), "2");

    auto* child = b.Add(a, "child");
    auto* other = b.Add(a, "other");
    child->Free(); // detaches itself
    ASSERT_EQ(a->nodes()->Count(), 1);
    EXPECT_EQ((*a->nodes())[0], other);

    auto* target = b.Add(b.Decl, "target");
    target->add(other); // moves
    EXPECT_EQ(a->nodes()->Count(), 0);
    EXPECT_EQ(other->parent(), target);
    EXPECT_THROW(other->add(target), EInvalidOperation);
    EXPECT_THROW(other->add(other), EInvalidOperation);
    EXPECT_EQ(b.Doc->saveToString(false),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><a /><target><other /></target>");
}

TEST(XmlModel, ADeepProgramTreeIsFreedAndRefusedByTheWriter)
{
    TBuiltDoc b;
    TMz_XmlNode* at = b.Decl;
    for (int i = 0; i < 100000; ++i) at = b.Add(at, "n");
    EXPECT_EQ(MessageOf<EMz_XmlStoringError>([&] { b.Doc->saveToString(true); }),
              "element \"n\" nested deeper than 256 levels [\"\" at 0]");
    // The document's destructor frees the 100000 levels without recursing per level.
}

TEST(XmlModel, MaxDepthIsExactlyWhatBothSidesAccept)
{
    auto repeat = [](const std::string& s, int n) {
        std::string r;
        for (int i = 0; i < n; ++i) r += s;
        return r;
    };
    const int n = TMz_XmlDocument::MaxDepth;
    TXmlDoc d = ParseXml("<?xml version=\"1.0\"?>" + repeat("<n>", n) + repeat("</n>", n));
    EXPECT_EQ(d->saveToString(false), "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>" +
                                          repeat("<n>", n - 1) + "<n />" + repeat("</n>", n - 1));
}
