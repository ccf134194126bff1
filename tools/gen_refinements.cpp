// Build-time generator: reads boot/natives.zub and boot/actions.zub (`word [arguments]` pairs) and writes a header
// that gives every function's refinements by name and position, so C++ entries test a refinement
// by its name and a renamed or moved refinement fails to compile instead of reading another slot.
//
//   gen_refinements OUTPUT NAME1 FILE1 [NAME2 FILE2 ...]
//
// For each NAME it writes k<NAME>Words (the function words in file order) and k<NAME>Refinements
// (function position, refinement word, refinement position; /local and what follows excluded).
// The reader knows only what those files use: words, strings "..." and {...}, ; comments,
// characters #"x" and nested blocks.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Function {
    std::string word;
    std::vector<std::string> refinements;
};

[[noreturn]] void fail(const std::string& file, size_t at, const std::string& what) {
    std::cerr << file << ": offset " << at << ": " << what << "\n";
    std::exit(1);
}

bool delimiter(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '[' || c == ']' || c == '(' || c == ')' ||
           c == '"' || c == '{' || c == '}' || c == ';';
}

// Skips a string starting at text[i] ('"' or '{'); returns the position after it.
size_t skip_string(const std::string& file, const std::string& text, size_t i) {
    const char open = text[i];
    int depth = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '^') {
            ++i;
            continue;
        }
        if (open == '"') {
            if (c == '"' && depth++ > 0) return i + 1;
            if (c == '\n') break;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}' && --depth == 0) {
            return i + 1;
        }
    }
    fail(file, i, "unterminated string");
}

std::vector<Function> read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) fail(file, 0, "cannot read");
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    std::vector<Function> functions;
    int depth = 0;
    bool locals = false;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == ';') {
            while (i < text.size() && text[i] != '\n') ++i;
        } else if (c == '"' || c == '{') {
            i = skip_string(file, text, i);
        } else if (c == '[' || c == '(') {
            ++depth;
            ++i;
        } else if (c == ']' || c == ')') {
            if (--depth < 0) fail(file, i, "unbalanced block");
            ++i;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
        } else {
            const size_t start = i;
            if (c == '#' && i + 1 < text.size() && text[i + 1] == '"') {
                i = skip_string(file, text, i + 1);
                continue;
            }
            while (i < text.size() && !delimiter(text[i])) ++i;
            const std::string token = text.substr(start, i - start);
            if (depth == 0) {
                functions.push_back({token, {}});
                locals = false;
            } else if (depth == 1 && token.size() > 1 && token[0] == '/') {
                if (functions.empty()) fail(file, start, "refinement outside an argument block");
                if (token == "/local") locals = true;
                if (!locals) functions.back().refinements.push_back(token.substr(1));
            }
        }
    }
    if (depth != 0) fail(file, text.size(), "unbalanced block");
    return functions;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc % 2 != 0) {
        std::cerr << "usage: gen_refinements OUTPUT NAME FILE [NAME FILE ...]\n";
        return 2;
    }
    std::ostringstream out;
    out << "// Generated at build time from boot/natives.zub and boot/actions.zub; not to be edited.\n"
           "#pragma once\n\n#include <cstdint>\n#include <string_view>\n\n"
           "namespace zub::generated {\n\n"
           "struct RefinementName {\n    uint32_t function;  // position in the file, from 0\n"
           "    std::string_view word;\n    int32_t position;  // among the function's refinements, from 0\n};\n";
    for (int a = 2; a < argc; a += 2) {
        const std::string name = argv[a];
        const std::vector<Function> functions = read(argv[a + 1]);
        out << "\ninline constexpr std::string_view k" << name << "Words[] = {\n";
        for (const Function& f : functions) out << "    \"" << f.word << "\",\n";
        out << "};\ninline constexpr RefinementName k" << name << "Refinements[] = {\n";
        for (size_t i = 0; i < functions.size(); ++i)
            for (size_t r = 0; r < functions[i].refinements.size(); ++r)
                out << "    {" << i << ", \"" << functions[i].refinements[r] << "\", " << r << "},\n";
        out << "    {0xFFFFFFFFu, \"\", -1},  // keeps the table non-empty\n};\n";
    }
    out << "\n}  // namespace zub::generated\n";
    // Written only when it changes, so the sources that include it rebuild only then.
    const std::string text = out.str();
    {
        std::ifstream old(argv[1], std::ios::binary);
        std::stringstream existing;
        existing << old.rdbuf();
        if (old && existing.str() == text) return 0;
    }
    std::ofstream file(argv[1], std::ios::binary);
    file << text;
    return file ? 0 : 1;
}
