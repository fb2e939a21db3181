// Parsing a 10 MB game-data XML document into our document model, next to
// pugixml's load_buffer (default options) on the same bytes. Both build a
// fresh tree per iteration and free it again. Prints our speed as a ratio of
// pugixml's, and whether parsing time grows linearly with long values.
// Our documents take node memory from blocks that freed documents left for
// reuse (up to 64 MiB), so warm runs pay no page faults for nodes; pugixml
// takes its pages from the C allocator each time. On a machine where page
// faults are dear, this favours us beyond the parsing work itself.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "BenchSupport.h"

#include "Korvane.Xml.Document.h"
#include "Platform.SysUtils.h"

using namespace korvane;

namespace {

// A dialogue file as the game writes it: dialogues of items with typed
// attributes, multilingual texts in CDATA sections, parameters as text.
std::vector<uint8_t> DialogueDocument(size_t ASize)
{
    std::string t = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<dialogues version=\"3\">\r\n";
    const char* lines[] = {
        "Well met, traveller. The road to the northern pass is closed since the storm took the bridge.",
        "If you bring me three bundles of oak wood, I can see the bridge mended before the next moon.",
        "Gut, dann sehen wir uns am Tor. Nimm die Laterne mit, die Nacht wird lang und kalt.",
    };
    for (int d = 0; t.size() < ASize; ++d) {
        t += Format("\t<dialogue id=\"%d\" name=\"Dialogue_%d\" start=\"item_0\">\r\n", d, d);
        for (int i = 0; i < 6; ++i) {
            t += Format("\t\t<item id=\"item_%d\" type=\"text\" duration=\"%g\" speaker=\"npc_%d\" auto=\"True\">\r\n",
                        i, 1.5 + i * 0.25, d % 17);
            t += "\t\t\t<text type=\"multilingual\">\r\n";
            t += Format("\t\t\t\t<lang id=\"en-us\">\r\n\t\t\t\t\t<![CDATA[%s]]>\r\n\t\t\t\t</lang>\r\n", lines[i % 2]);
            t += Format("\t\t\t\t<lang id=\"de-de\">\r\n\t\t\t\t\t<![CDATA[%s]]>\r\n\t\t\t\t</lang>\r\n", lines[2]);
            t += "\t\t\t</text>\r\n";
            t += Format("\t\t\t<param id=\"reward\">%d</param>\r\n\t\t\t<param id=\"mood\">friendly</param>\r\n",
                        d * 10 + i);
            t += "\t\t</item>\r\n";
        }
        t += "\t</dialogue>\r\n";
    }
    t += "</dialogues>\r\n";
    return std::vector<uint8_t>(t.begin(), t.end());
}

// Few elements with long attribute values and long text: the per-byte paths.
std::vector<uint8_t> LongValueDocument(size_t ASize)
{
    std::string t = "<?xml version=\"1.0\"?>\r\n<data>\r\n";
    const std::string value(64 * 1024, 'v');
    const std::string text(192 * 1024, 't');
    while (t.size() < ASize) t += "\t<blob key=\"" + value + "\">" + text + "</blob>\r\n";
    t += "</data>\r\n";
    return std::vector<uint8_t>(t.begin(), t.end());
}

const std::vector<uint8_t>& Dialogues()
{
    static const std::vector<uint8_t> bytes = DialogueDocument(10'000'000);
    return bytes;
}

const std::vector<uint8_t>& LongValues(int AMegabytes)
{
    static const std::vector<uint8_t> one = LongValueDocument(1'000'000);
    static const std::vector<uint8_t> ten = LongValueDocument(10'000'000);
    return AMegabytes == 1 ? one : ten;
}

void ParseOurs(benchmark::State& state, const std::vector<uint8_t>& bytes)
{
    for (auto _ : state) {
        TOwned<TMz_XmlDocument> doc(new TMz_XmlDocument());
        doc->loadFromBytes(bytes);
        if (!doc->root()) state.SkipWithError("no root");
        benchmark::DoNotOptimize(doc.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void OurParse(benchmark::State& state) { ParseOurs(state, Dialogues()); }

void PugixmlParse(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = Dialogues();
    for (auto _ : state) {
        pugi::xml_document doc;
        const pugi::xml_parse_result r = doc.load_buffer(bytes.data(), bytes.size());
        if (!r) state.SkipWithError("pugixml parse failed");
        benchmark::DoNotOptimize(&doc);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void OurParseLong1MB(benchmark::State& state) { ParseOurs(state, LongValues(1)); }
void OurParseLong10MB(benchmark::State& state) { ParseOurs(state, LongValues(10)); }

} // namespace

// Several seconds each, so that both are measured with warm memory rather
// than on the page faults of a first run.
// Rates are on wall time.
BENCHMARK(OurParse)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(PugixmlParse)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(OurParseLong1MB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OurParseLong10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter reporter("bytes_per_second");
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        const double ours = reporter.Rate("OurParse"), theirs = reporter.Rate("PugixmlParse");
        std::printf("\ndialogue XML: %.1f MB\n", double(Dialogues().size()) / 1e6);
        if (ours > 0 && theirs > 0)
            std::printf("parse into a tree: ours %.1f MB/s, pugixml load_buffer %.1f MB/s, ratio ours/pugixml %.2f "
                        "(1.00 = as fast as pugixml, the target is at least 0.50)\n",
                        ours / 1e6, theirs / 1e6, ours / theirs);
        const double one = reporter.Rate("OurParseLong1MB"), ten = reporter.Rate("OurParseLong10MB");
        if (one > 0 && ten > 0)
            std::printf("long values: 1 MB at %.1f MB/s, 10 MB at %.1f MB/s, ratio 10 MB/1 MB %.2f "
                        "(about 1.00 = time grows linearly with the size)\n",
                        one / 1e6, ten / 1e6, ten / one);
    });
}
