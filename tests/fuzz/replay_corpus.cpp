// Runs the fuzz target over corpus files and seeded random inputs without
// libFuzzer, so any compiler's test suite replays what the fuzzer found.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

std::uint64_t nextRandom(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

// Arguments: corpus files or folders, and "--random N" for N seeded inputs.
int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    long randomInputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--random" && i + 1 < argc) {
            randomInputs = std::strtol(argv[++i], nullptr, 10);
            continue;
        }
        if (std::filesystem::is_directory(argument)) {
            for (const auto& entry : std::filesystem::directory_iterator(argument))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else {
            files.push_back(argument);
        }
    }
    std::sort(files.begin(), files.end());
    // An empty or misnamed corpus would otherwise pass without testing anything.
    if (files.empty()) {
        std::fprintf(stderr, "replay_corpus: no corpus files given\n");
        return 1;
    }
    for (const auto& file : files) {
        const std::vector<std::uint8_t> bytes = readFile(file);
        std::fprintf(stderr, "%s (%zu bytes)\n", file.string().c_str(), bytes.size());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::uint64_t state = 20240611;
    for (long n = 0; n < randomInputs; ++n) {
        std::vector<std::uint8_t> bytes(16 + nextRandom(state) % 600);
        for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(nextRandom(state));
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::fprintf(stderr, "replayed %zu corpus files and %ld random inputs\n", files.size(), randomInputs);
    return 0;
}
