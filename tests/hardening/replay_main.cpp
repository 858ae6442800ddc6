// Replays a fuzz target without libFuzzer: every file of the corpus directories given,
// then mutations of them drawn from a fixed seed (bytes changed, inserted, cut off), so
// the ordinary test run checks the same invariants deterministically.
//   replay [--mutations N] [--seed S] DIR...
#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    long mutations = 1000;
    unsigned seed = 1;
    std::vector<std::vector<uint8_t>> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--mutations") && i + 1 < argc) { mutations = std::atol(argv[++i]); continue; }
        if (!std::strcmp(argv[i], "--seed") && i + 1 < argc) { seed = unsigned(std::atol(argv[++i])); continue; }
        DIR* dir = opendir(argv[i]);
        if (!dir) { std::fprintf(stderr, "replay: cannot open %s\n", argv[i]); return 2; }
        std::vector<std::string> names;
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.') names.push_back(std::string(argv[i]) + "/" + e->d_name);
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const auto& n : names) {
            std::ifstream f(n, std::ios::binary);
            inputs.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        }
    }
    if (inputs.empty()) { std::fprintf(stderr, "replay: no corpus\n"); return 2; }
    for (const auto& in : inputs) LLVMFuzzerTestOneInput(in.data(), in.size());
    std::mt19937 rng(seed);
    for (long m = 0; m < mutations; ++m) {
        std::vector<uint8_t> in = inputs[rng() % inputs.size()];
        const int edits = 1 + int(rng() % 4);
        for (int k = 0; k < edits; ++k) {
            const unsigned what = rng() % 8;
            if (in.empty() || what == 7) in.push_back(uint8_t(rng()));
            else if (what == 6) in.resize(rng() % in.size());
            else if (what == 5) in.insert(in.begin() + rng() % in.size(), uint8_t(rng()));
            else in[rng() % in.size()] = uint8_t(rng());
        }
        LLVMFuzzerTestOneInput(in.data(), in.size());
    }
    std::printf("replay: %zu corpus inputs and %ld mutations, no findings\n", inputs.size(), mutations);
    return 0;
}
