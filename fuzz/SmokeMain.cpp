// Runs a fuzz target without libFuzzer: every file of the seed corpus, then a fixed
// number of deterministic mutations of them. Lets an ordinary build and CI exercise
// each target under the sanitizers; real fuzzing builds with TAVO_BUILD_FUZZ=ON.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::stoi(argv[2]) : 20000;
    std::vector<std::string> seeds;
    for (const auto& file : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream in(file.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    seeds.emplace_back();
    for (const auto& seed : seeds)
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(seed.data()), seed.size());

    std::mt19937 random(20261206);
    for (int i = 0; i < runs; ++i) {
        std::string input = seeds[random() % seeds.size()];
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const auto pos = input.empty() ? 0 : random() % (input.size() + 1);
            switch (random() % 4) {
            case 0: // flip a byte
                if (!input.empty())
                    input[pos % input.size()] = static_cast<char>(random());
                break;
            case 1: // insert bytes
                input.insert(pos, std::string(1 + random() % 16, static_cast<char>(random())));
                break;
            case 2: // cut
                input.resize(pos);
                break;
            default: // digits, where lengths live
                if (!input.empty())
                    input[pos % input.size()] = static_cast<char>(0xF0 + random() % 10);
                break;
            }
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    }
    std::printf("%zu seeds, %d mutations: no fault\n", seeds.size(), runs);
    return 0;
}
