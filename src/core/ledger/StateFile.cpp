#include "core/ledger/StateFile.h"

#include "core/common/MappedFile.h"
#include "core/common/Parallel.h"
#include "core/model/JsonWriter.h"
#include "core/model/Utf8.h"

#include <algorithm>
#include <atomic>
#include <numeric>

namespace fernhollow {
namespace {

constexpr std::string_view recordsOpening = R"({"records":[)";
constexpr std::string_view recordsClosing = R"(],"fileMtimes":{)";
// Where one record of our own layout ends and the next begins. In valid JSON this sequence
// cannot lie inside a string: its unescaped quote after "{" would end the string and
// leave `id":` behind it, which JSON does not allow.
constexpr std::string_view recordSeam = R"(},{"id":")";
constexpr std::size_t chunkBytes = 4 << 20;

std::string encodeTail(const PersistedState& state) {
    std::string out = "],\"fileMtimes\":{";
    bool first = true;
    for (const auto& [path, mtime] : state.fileMtimes) {
        // JSON holds text only. Leaving such a path out costs one more read of its log on the
        // next run; writing it would make the whole document fail to load.
        if (!utf8::isValid(path)) {
            continue;
        }
        if (!first) {
            out.push_back(',');
        }
        first = false;
        json::appendString(out, path, json::Slash::escaped);
        out.push_back(':');
        json::appendNumber(out, mtime);
    }
    out += "},\"schemaVersion\":";
    json::appendInteger(out, state.schemaVersion);
    out.push_back('}');
    return out;
}

bool decodeFileTimes(simdjson::dom::object object, FileTimes& times) {
    times.reserve(object.size());
    for (const auto [path, value] : object) {
        double mtime = 0.0;
        if (value.get_double().get(mtime) != simdjson::SUCCESS) {
            return false;
        }
        times[std::string(path)] = mtime;
    }
    return true;
}

bool decodeRecords(simdjson::dom::array array, std::vector<UsageRecord>& records) {
    for (const simdjson::dom::element element : array) {
        auto record = usageRecordFromJson(element);
        if (!record) {
            return false;
        }
        records.push_back(std::move(*record));
    }
    return true;
}

bool decodeVersion(simdjson::dom::element element, std::int64_t& version) {
    if (element.type() != simdjson::dom::element_type::INT64) {
        return false;
    }
    version = element.get_int64().value_unsafe();
    return true;
}

// The general reading: one parse of the whole document, members in any order.
std::optional<PersistedState> decodeWhole(std::string_view bytes) {
    const simdjson::padded_string padded(bytes);
    simdjson::dom::parser parser;
    simdjson::dom::object root;
    if (parser.parse(padded).get_object().get(root) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    simdjson::dom::array records;
    simdjson::dom::object mtimes;
    simdjson::dom::element version;
    PersistedState state;
    if (root["records"].get_array().get(records) != simdjson::SUCCESS ||
        root["fileMtimes"].get_object().get(mtimes) != simdjson::SUCCESS ||
        root["schemaVersion"].get(version) != simdjson::SUCCESS ||
        !decodeVersion(version, state.schemaVersion) || !decodeRecords(records, state.records) ||
        !decodeFileTimes(mtimes, state.fileMtimes)) {
        return std::nullopt;
    }
    return state;
}

// The fast reading of the layout we write: the records array is cut at record seams into
// chunks of a few megabytes, each parsed on its own as "[chunk]" by reused parsers on every
// core. If every piece parses, the pieces are a partition of one valid document, so the
// result is exactly that of the general reading. Anything unexpected returns nothing and
// leaves the judgement to the general reading.
std::optional<PersistedState> decodeOwnLayout(std::string_view bytes) {
    const std::size_t closing = bytes.rfind(recordsClosing);
    if (!bytes.starts_with(recordsOpening) || closing == std::string_view::npos ||
        closing < recordsOpening.size()) {
        return std::nullopt;
    }
    const std::string_view body = bytes.substr(recordsOpening.size(), closing - recordsOpening.size());
    std::vector<std::string_view> chunks;
    for (std::size_t start = 0; start < body.size();) {
        std::size_t seam =
            start + chunkBytes < body.size() ? body.find(recordSeam, start + chunkBytes) : body.npos;
        const std::size_t end = seam == std::string_view::npos ? body.size() : seam + 1; // keep the "}"
        chunks.push_back(body.substr(start, end - start));
        start = seam == std::string_view::npos ? body.size() : seam + 2; // skip the ","
    }

    std::vector<std::vector<UsageRecord>> parts(chunks.size());
    std::atomic<bool> failed{false};
    struct ChunkParser {
        simdjson::dom::parser parser;
        std::string framed;
    };
    parallelFor<ChunkParser>(
        chunks.size(), threadsFor(body.size(), chunkBytes), [&](ChunkParser& context, std::size_t part) {
            auto& [parser, framed] = context;
            framed.assign("[").append(chunks[part]).append("]").append(simdjson::SIMDJSON_PADDING, '\0');
            simdjson::dom::array array;
            if (failed ||
                parser.parse(framed.data(), framed.size() - simdjson::SIMDJSON_PADDING, false)
                        .get_array()
                        .get(array) != simdjson::SUCCESS ||
                !decodeRecords(array, parts[part])) {
                failed = true;
            }
        });
    if (failed) {
        return std::nullopt;
    }

    const std::string tail = "{" + std::string(bytes.substr(closing + 2));
    simdjson::dom::parser parser;
    simdjson::dom::object root;
    simdjson::dom::object mtimes;
    simdjson::dom::element version;
    PersistedState state;
    if (parser.parse(tail).get_object().get(root) != simdjson::SUCCESS ||
        root["records"].error() == simdjson::SUCCESS ||
        root["fileMtimes"].get_object().get(mtimes) != simdjson::SUCCESS ||
        root["schemaVersion"].get(version) != simdjson::SUCCESS ||
        !decodeVersion(version, state.schemaVersion) || !decodeFileTimes(mtimes, state.fileMtimes)) {
        return std::nullopt;
    }
    const std::size_t total =
        std::accumulate(parts.begin(), parts.end(), std::size_t{0},
                        [](std::size_t sum, const auto& part) { return sum + part.size(); });
    state.records.reserve(total);
    for (auto& part : parts) {
        std::move(part.begin(), part.end(), std::back_inserter(state.records));
    }
    return state;
}

} // namespace

std::vector<std::string> encodeStatePieces(const PersistedState& state) {
    constexpr std::size_t recordsPerPiece = 50'000;
    const std::size_t pieceCount = (state.records.size() + recordsPerPiece - 1) / recordsPerPiece;
    std::vector<std::string> pieces(pieceCount + 2);
    pieces.front() = recordsOpening;
    parallelFor<UsageRecordJsonWriter>(
        pieceCount, threadsFor(pieceCount, 1), [&](UsageRecordJsonWriter& writer, std::size_t part) {
            const std::size_t begin = part * recordsPerPiece;
            const std::size_t end = std::min(begin + recordsPerPiece, state.records.size());
            std::string& out = pieces[part + 1];
            out.reserve((end - begin) * 420);
            for (std::size_t i = begin; i < end; ++i) {
                if (i > 0) {
                    out.push_back(',');
                }
                writer.append(out, state.records[i]);
            }
        });
    pieces.back() = encodeTail(state);
    return pieces;
}

std::string encodeState(const PersistedState& state) {
    const auto pieces = encodeStatePieces(state);
    std::string out;
    out.reserve(std::accumulate(pieces.begin(), pieces.end(), std::size_t{0},
                                [](std::size_t sum, const auto& piece) { return sum + piece.size(); }));
    for (const auto& piece : pieces) {
        out += piece;
    }
    return out;
}

std::optional<PersistedState> decodeState(std::string_view bytes) {
    if (auto state = decodeOwnLayout(bytes)) {
        return state;
    }
    return decodeWhole(bytes);
}

std::optional<PersistedState> loadStateFile(const std::filesystem::path& path) {
    // Mapped, not read: the usual layout is parsed in small copied chunks, so a heavy
    // user's cache of hundreds of megabytes is never copied whole.
    const auto file = MappedFile::open(path);
    if (!file) {
        return std::nullopt;
    }
    auto state = decodeState(file->bytes());
    if (!state || state->schemaVersion != PersistedState::currentSchemaVersion) {
        return std::nullopt;
    }
    return state;
}

} // namespace fernhollow
