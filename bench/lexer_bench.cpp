// Loading source text: the lexer on a generated multi-megabyte source against python3's
// json.loads on the same data written as JSON. Prints both times and their ratio.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "boot/runtime.h"
#include "evaluator/lexer/lexer.h"

namespace {

// The same data in both notations: blocks of integers, strings, words and nested blocks.
void generate(std::string& zub, std::string& json, int rows) {
    std::mt19937 rng(7);
    zub = "[\n";
    json = "[\n";
    for (int r = 0; r < rows; ++r) {
        const int n = static_cast<int>(rng() % 1000000);
        const std::string word = "name" + std::to_string(rng() % 500);
        const std::string text = "text number " + std::to_string(r);
        zub += "    [" + std::to_string(n) + " \"" + text + "\" " + word + " [1 2 3] -" + std::to_string(r) + "]\n";
        json += std::string(r ? "," : "") + "[" + std::to_string(n) + ",\"" + text + "\",\"" + word + "\",[1,2,3],-" +
                std::to_string(r) + "]\n";
    }
    zub += "]\n";
    json += "]\n";
}

double seconds_of_load(const std::string& source) {
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        zub::runtime::init();
        const auto start = std::chrono::steady_clock::now();
        zub::lexer::load(reinterpret_cast<const std::byte*>(source.data()), static_cast<uint32_t>(source.size()));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
        zub::runtime::cleanup();
    }
    return best;
}

double seconds_of_python(const std::string& json) {
    const char* path = "/tmp/zub-lexer-bench.json";
    if (FILE* f = std::fopen(path, "w")) {
        std::fwrite(json.data(), 1, json.size(), f);
        std::fclose(f);
    }
    const std::string command = std::string("python3 -c \"import json,time; s=open('") + path +
                                "').read(); b=1e9\nfor _ in range(5):\n t=time.perf_counter(); json.loads(s); "
                                "b=min(b,time.perf_counter()-t)\nprint(b)\"";
    double value = 0;
    if (FILE* p = popen(command.c_str(), "r")) {
        if (std::fscanf(p, "%lf", &value) != 1) value = 0;
        pclose(p);
    }
    return value;
}

}  // namespace

int main() {
    std::string zub, json;
    generate(zub, json, 100000);
    const double ours = seconds_of_load(zub);
    const double python = seconds_of_python(json);
    std::printf("load %.1f MB of source: zub %.1f ms, python3 json.loads %.1f ms, ratio %.2f\n", zub.size() / 1e6,
                ours * 1e3, python * 1e3, python > 0 ? ours / python : 0.0);
    return 0;
}
