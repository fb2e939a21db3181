// Runs a fuzz target over every file of the directories or files it is given,
// the way the fuzzer replays a corpus, so that a test build keeps each stored
// input passing. A broken check aborts, which fails the test.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Optional, as with libFuzzer: targets that need no set-up leave it out.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::filesystem::path& APath)
{
    std::ifstream in(APath, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", APath.c_str());
        return 1;
    }
    const std::vector<char> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // An empty vector's data() may be null; the fuzzer never passes null.
    const char none = 0;
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.empty() ? &none : data.data()), data.size());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    int inputs = 0;
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else {
            files.push_back(arg);
        }
        for (const auto& file : files) {
            failures += RunFile(file);
            ++inputs;
        }
    }
    std::printf("replay: %d inputs\n", inputs);
    if (inputs == 0) {
        std::fprintf(stderr, "replay: no inputs given\n");
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
