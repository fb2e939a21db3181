// Reading and writing a 10 MB model definition as BSON, next to libbson on the
// same document. Reading: our token reader delivering every token with its
// value, against bson_init_static and a bson_iter walk that visits every
// element of every nested document and array and takes its value. Writing:
// our object-model writer, against bson_append_* called for the same object
// model (number texts read with the same parser). Prints our speed as a ratio
// of libbson's.

#include "Korvane.Units.h"
#include <benchmark/benchmark.h>

#include <bson/bson.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "DefinitionSample.h"

#include "Korvane.BSON.Writer.h"
#include "Korvane.JSON.BSON.h"
#include "Platform.JSON.h"
#include "Platform.Streams.h"

using namespace korvane;

namespace {

std::vector<uint8_t> ToBSON(const TJSONObject& object)
{
    TBytesStream stream;
    TKorvaneBSONWriter writer(&stream);
    writer.WriteJsonObject(&object);
    return stream.Bytes();
}

const TJSONObject& Definition()
{
    static const auto definition = bench::MakeDefinition(10'000'000, [](const TJSONValue& node) {
        return ToBSON(node.As<TJSONObject>()).size() + 4;
    });
    return *definition;
}

const std::vector<uint8_t>& DefinitionBSON()
{
    static const std::vector<uint8_t> bytes = ToBSON(Definition());
    return bytes;
}

// What a reader's consumer takes from each value, so that nothing is skipped.
struct TSink {
    size_t Text = 0;
    double Sum = 0;
    int64_t Count = 0;
};

void OurRead(benchmark::State& state)
{
    TBytesStream stream(DefinitionBSON());
    for (auto _ : state) {
        stream.SetPosition(0);
        TBsonReader reader(&stream);
        TSink sink;
        while (reader.Read()) {
            switch (reader.TokenType()) {
            case TJsonToken::PropertyName:
            case TJsonToken::String: sink.Text += reader.AsString().size(); break;
            case TJsonToken::Float: sink.Sum += reader.AsFloat(); break;
            case TJsonToken::Integer: sink.Sum += static_cast<double>(reader.AsInteger()); break;
            case TJsonToken::Boolean: sink.Count += reader.AsBoolean(); break;
            default: ++sink.Count; break;
            }
        }
        if (reader.Incomplete()) state.SkipWithError("the document did not read whole");
        benchmark::DoNotOptimize(sink);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(DefinitionBSON().size()));
}

bool Walk(bson_iter_t& iter, TSink& sink)
{
    while (bson_iter_next(&iter)) {
        sink.Text += bson_iter_key_len(&iter);
        switch (bson_iter_type(&iter)) {
        case BSON_TYPE_UTF8: {
            uint32_t length = 0;
            bson_iter_utf8(&iter, &length);
            sink.Text += length;
            break;
        }
        case BSON_TYPE_DOUBLE: sink.Sum += bson_iter_double(&iter); break;
        case BSON_TYPE_INT32: sink.Sum += bson_iter_int32(&iter); break;
        case BSON_TYPE_INT64: sink.Sum += static_cast<double>(bson_iter_int64(&iter)); break;
        case BSON_TYPE_BOOL: sink.Count += bson_iter_bool(&iter); break;
        case BSON_TYPE_DOCUMENT:
        case BSON_TYPE_ARRAY: {
            bson_iter_t child;
            if (!bson_iter_recurse(&iter, &child) || !Walk(child, sink)) return false;
            ++sink.Count;
            break;
        }
        default: ++sink.Count; break;
        }
    }
    // A walk that stopped on a fault leaves the iterator with an error offset.
    return iter.err_off == 0;
}

void LibbsonRead(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = DefinitionBSON();
    for (auto _ : state) {
        bson_t document;
        bson_iter_t iter;
        TSink sink;
        if (!bson_init_static(&document, bytes.data(), bytes.size()) || !bson_iter_init(&iter, &document) ||
            !Walk(iter, sink))
            state.SkipWithError("libbson did not read the document");
        benchmark::DoNotOptimize(sink);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

void OurWrite(benchmark::State& state)
{
    const TJSONObject& definition = Definition();
    for (auto _ : state) {
        TBytesStream stream;
        TKorvaneBSONWriter writer(&stream);
        writer.WriteJsonObject(&definition);
        benchmark::DoNotOptimize(stream.Memory());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(DefinitionBSON().size()));
}

void Append(bson_t* parent, const char* key, int keyLength, const TJSONValue& value);

void AppendMembers(bson_t* document, const TJSONValue& value)
{
    if (const auto* object = value.TryAs<TJSONObject>()) {
        for (const TJSONPair& pair : *object)
            Append(document, pair.Name().data(), static_cast<int>(pair.Name().size()), *pair.JsonValue());
    } else {
        uint32_t index = 0;
        char buffer[16];
        for (const auto& item : value.As<TJSONArray>()) {
            const char* key;
            const size_t length = bson_uint32_to_string(index++, &key, buffer, sizeof(buffer));
            Append(document, key, static_cast<int>(length), *item);
        }
    }
}

void Append(bson_t* parent, const char* key, int keyLength, const TJSONValue& value)
{
    switch (value.Kind()) {
    case TJSONValue::TKind::Object:
    case TJSONValue::TKind::Array: {
        bson_t child;
        const bool isObject = value.Kind() == TJSONValue::TKind::Object;
        if (isObject) bson_append_document_begin(parent, key, keyLength, &child);
        else bson_append_array_begin(parent, key, keyLength, &child);
        AppendMembers(&child, value);
        if (isObject) bson_append_document_end(parent, &child);
        else bson_append_array_end(parent, &child);
        break;
    }
    case TJSONValue::TKind::Null: bson_append_null(parent, key, keyLength); break;
    case TJSONValue::TKind::True: bson_append_bool(parent, key, keyLength, true); break;
    case TJSONValue::TKind::False: bson_append_bool(parent, key, keyLength, false); break;
    case TJSONValue::TKind::Number: {
        const std::string_view text = static_cast<const TJSONNumber&>(value).Text();
        double number = 0;
        std::from_chars(text.data(), text.data() + text.size(), number);
        bson_append_double(parent, key, keyLength, number);
        break;
    }
    case TJSONValue::TKind::String: {
        const std::string_view text = static_cast<const TJSONString&>(value).Text();
        bson_append_utf8(parent, key, keyLength, text.data(), static_cast<int>(text.size()));
        break;
    }
    }
}

void LibbsonWrite(benchmark::State& state)
{
    const TJSONObject& definition = Definition();
    for (auto _ : state) {
        bson_t* document = bson_new();
        AppendMembers(document, definition);
        if (document->len != DefinitionBSON().size()) state.SkipWithError("libbson wrote another document");
        benchmark::DoNotOptimize(bson_get_data(document));
        bson_destroy(document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(DefinitionBSON().size()));
}

BENCHMARK(OurRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LibbsonRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OurWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LibbsonWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

// Prints each run's throughput, then ours as a ratio of libbson's.
int main(int argc, char** argv)
{
    korvane::TUnitsScope units;
    korvane::bench::TRateReporter reporter("bytes_per_second");
    return korvane::bench::RunBenchmarks(argc, argv, reporter, [&] {
        std::printf("\nmodel definition as BSON: %.1f MB\n", static_cast<double>(DefinitionBSON().size()) / 1e6);
        korvane::bench::PrintByteRateRatios(reporter, {"Read", "Write"}, "Libbson", "libbson",
                                            " (1.00: as fast; the aim is at least 0.80)");
        std::printf("Read: every token and its value, against a bson_iter walk taking every value "
                    "(our reader also checks UTF-8 and string terminators).\n"
                    "Write: the object model to a BSON document in a memory stream, against bson_append_* "
                    "for the same object model into a bson_t.\n");
    });
}
