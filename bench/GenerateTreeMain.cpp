#include "ClaudeTreeGenerator.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <string_view>

namespace {

int usage() {
    std::fputs("usage: fernhollow-gentree ROOT [--bytes N] [--projects P] [--sessions S] [--seed X] "
               "[--summary-only PERCENT]\n",
               stderr);
    return 2;
}

template <typename Number> bool parseNumber(std::string_view text, Number& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc{} && end == text.data() + text.size();
}

} // namespace

int main(int argc, char** argv) {
    fernhollow::bench::TreeShape shape{2'000'000'000, 20, 76, 1};
    const char* root = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        bool ok = true;
        if (arg == "--bytes" && hasValue) {
            ok = parseNumber(argv[++i], shape.totalBytes);
        } else if (arg == "--projects" && hasValue) {
            ok = parseNumber(argv[++i], shape.projects) && shape.projects > 0;
        } else if (arg == "--sessions" && hasValue) {
            ok = parseNumber(argv[++i], shape.sessionsPerProject) && shape.sessionsPerProject > 0;
        } else if (arg == "--seed" && hasValue) {
            ok = parseNumber(argv[++i], shape.seed);
        } else if (arg == "--summary-only" && hasValue) {
            ok = parseNumber(argv[++i], shape.summaryOnlyPercent) && shape.summaryOnlyPercent >= 0 &&
                 shape.summaryOnlyPercent <= 100;
        } else if (root == nullptr && !arg.starts_with("--")) {
            root = argv[i];
        } else {
            ok = false;
        }
        if (!ok) {
            return usage();
        }
    }
    if (root == nullptr) {
        return usage();
    }
    try {
        const auto stats = fernhollow::bench::generateClaudeTree(root, shape);
        std::fputs(fernhollow::bench::formatStats(stats).c_str(), stdout);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fernhollow-gentree: %s\n", error.what());
        return 1;
    }
    return 0;
}
