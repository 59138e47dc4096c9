#include "core/model/ModelId.h"

#include <algorithm>
#include <array>
#include <vector>

namespace fernhollow::ModelId {
namespace {

// Providers whose models run on the user's own machine.
constexpr std::array<std::string_view, 9> localProviders = {"ollama",    "ollama_chat", "lmstudio",
                                                            "lm-studio", "lm_studio",   "llamacpp",
                                                            "llama-cpp", "llama.cpp",   "vllm"};
constexpr std::array<std::string_view, 3> loopbackHosts = {"localhost", "127.0.0.1", "[::1]"};
constexpr std::array<std::string_view, 5> modeWords = {"thinking", "reasoning", "latest", "preview", "exp"};
constexpr std::array<std::string_view, 5> effortWords = {"minimal", "low", "medium", "high", "xhigh"};

bool contains(const auto& words, std::string_view word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

bool isDigits(std::string_view piece, std::size_t length) {
    return piece.size() == length &&
           std::all_of(piece.begin(), piece.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool hasDigit(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The provider path before the model: a local provider or a loopback address anywhere in it
// means the tokens never left the machine.
bool pathIsLocal(std::string_view path) {
    const std::string lower = lowered(path);
    for (const std::string_view host : loopbackHosts) {
        if (lower.find(host) != std::string::npos) {
            return true;
        }
    }
    for (std::size_t start = 0; start <= lower.size();) {
        const std::size_t end = std::min(lower.find('/', start), lower.size());
        if (contains(localProviders, std::string_view(lower).substr(start, end - start))) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// How many pieces at the end of `pieces` spell a date or a mode that leaves the price alone;
// 0 when none do.
std::size_t removableTail(const std::vector<std::string_view>& pieces, bool claude) {
    const std::size_t n = pieces.size();
    const std::string_view last = pieces[n - 1];
    const auto piece = [&](std::size_t fromEnd) {
        return fromEnd < n ? pieces[n - 1 - fromEnd] : std::string_view();
    };
    if (isDigits(last, 2) && isDigits(piece(1), 2) && isDigits(piece(2), 4)) {
        return 3; // 2024-11-20
    }
    if ((isDigits(last, 2) || isDigits(last, 4)) && isDigits(piece(1), 2)) {
        return 2; // 06-17, 09-2025
    }
    if (contains(modeWords, last) || isDigits(last, 8) || (claude && last == "0")) {
        return last == "reasoning" && piece(1) == "non" ? 2 : 1;
    }
    return 0;
}

} // namespace

Parsed parse(std::string_view spelling) {
    Parsed parsed;
    std::string_view text = trimmed(spelling);
    while (text.ends_with('/')) {
        text.remove_suffix(1);
    }
    const std::size_t slash = text.rfind('/');
    if (slash != std::string_view::npos) {
        parsed.free = pathIsLocal(text.substr(0, slash));
        text.remove_prefix(slash + 1);
    }
    std::string name = lowered(text);
    // Routers offer some models at no charge under a ":free" tag.
    if (const std::size_t colon = name.find(':');
        colon != std::string::npos && name.substr(colon + 1) == "free") {
        parsed.free = true;
    }
    // Vertex's "@version", a client's "[1m]" context flag and a ":tag" follow the model.
    name.resize(std::min({name.find('['), name.find('@'), name.find(':'), name.size()}));
    // Bedrock writes "<geography>.<vendor>.<model>-v1"; a qualifier holds no digit, which
    // tells it from a version ("gpt-4.1").
    std::string_view model = name;
    bool bedrock = false;
    for (std::size_t dot = model.find('.');
         dot != std::string_view::npos && dot > 0 && !hasDigit(model.substr(0, dot)); dot = model.find('.')) {
        if (!bedrock) {
            parsed.route = model.substr(0, dot) == "global" ? Route::bedrockGlobal : Route::bedrockRegional;
            bedrock = true;
        }
        model.remove_prefix(dot + 1);
    }
    if (bedrock) {
        const std::size_t dash = model.rfind("-v");
        if (dash != std::string_view::npos && dash + 2 < model.size() &&
            isDigits(model.substr(dash + 2), model.size() - dash - 2)) {
            model = model.substr(0, dash);
        }
    }
    std::string id(model);
    // Anthropic and xAI spell versions with hyphens; routers often write dots.
    const bool claude = id.starts_with("claude");
    if (claude || id.starts_with("grok")) {
        std::replace(id.begin(), id.end(), '.', '-');
    }
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0; start < id.size();) {
        const std::size_t end = std::min(id.find('-', start), id.size());
        if (end > start) {
            pieces.emplace_back(std::string_view(id).substr(start, end - start));
        }
        start = end + 1;
    }
    while (pieces.size() > 1) {
        const std::size_t tail = removableTail(pieces, claude);
        if (tail == 0 || tail >= pieces.size()) {
            break;
        }
        pieces.resize(pieces.size() - tail);
    }
    for (const std::string_view piece : pieces) {
        if (!parsed.canonical.empty()) {
            parsed.canonical.push_back('-');
        }
        parsed.canonical.append(piece);
    }
    return parsed;
}

std::array<std::string_view, 2> shorterIds(std::string_view canonical) {
    const std::size_t dash = canonical.rfind('-');
    if (dash == std::string_view::npos || dash == 0) {
        return {};
    }
    const std::string_view last = canonical.substr(dash + 1);
    const std::string_view shorter = canonical.substr(0, dash);
    return {contains(effortWords, last) ? shorter : std::string_view(),
            isDigits(last, 4) ? shorter : std::string_view()};
}

} // namespace fernhollow::ModelId
