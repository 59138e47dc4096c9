#include "store/StateFile.h"

#include "model/JsonWriter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace fernhollow {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports failure: a failing close can be the first sign of a failed write.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool fileHoldsExactly(const std::filesystem::path& path, std::string_view bytes) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || static_cast<std::uint64_t>(info.st_size) != bytes.size()) {
        return false;
    }
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        return false;
    }
    std::array<char, 1 << 16> chunk{};
    std::size_t offset = 0;
    for (;;) {
        const ssize_t got = ::read(file.get(), chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0 && offset == bytes.size();
        }
        const auto count = static_cast<std::size_t>(got);
        if (offset + count > bytes.size() || std::memcmp(chunk.data(), bytes.data() + offset, count) != 0) {
            return false;
        }
        offset += count;
    }
}

// After a rename, the directory entry itself must reach the disk for the new file to survive
// a power loss.
void syncFolder(const std::filesystem::path& folder) {
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) {
        ::fsync(dir.get());
    }
}

std::filesystem::path withSuffix(const std::filesystem::path& path, std::string_view suffix) {
    return path.string() + std::string(suffix);
}

} // namespace

std::string encodeState(const PersistedState& state) {
    std::string out;
    out.reserve(64 + state.records.size() * 360 + state.fileMtimes.size() * 160);
    out += "{\"records\":[";
    for (std::size_t i = 0; i < state.records.size(); ++i) {
        if (i > 0) {
            out.push_back(',');
        }
        appendJson(out, state.records[i]);
    }
    out += "],\"fileMtimes\":{";
    bool first = true;
    for (const auto& [path, mtime] : state.fileMtimes) {
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

std::optional<PersistedState> decodeState(std::string_view bytes) {
    simdjson::dom::parser parser;
    simdjson::dom::object root;
    if (parser.parse(bytes.data(), bytes.size()).get_object().get(root) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    simdjson::dom::array records;
    simdjson::dom::object mtimes;
    simdjson::dom::element version;
    if (root["records"].get_array().get(records) != simdjson::SUCCESS ||
        root["fileMtimes"].get_object().get(mtimes) != simdjson::SUCCESS ||
        root["schemaVersion"].get(version) != simdjson::SUCCESS ||
        version.type() != simdjson::dom::element_type::INT64) {
        return std::nullopt;
    }
    PersistedState state;
    state.schemaVersion = version.get_int64().value_unsafe();
    state.records.reserve(records.size());
    for (const simdjson::dom::element element : records) {
        auto record = usageRecordFromJson(element);
        if (!record) {
            return std::nullopt;
        }
        state.records.push_back(std::move(*record));
    }
    state.fileMtimes.reserve(mtimes.size());
    for (const auto field : mtimes) {
        double mtime = 0.0;
        if (field.value.get_double().get(mtime) != simdjson::SUCCESS) {
            return std::nullopt;
        }
        state.fileMtimes[std::string(field.key)] = mtime;
    }
    return state;
}

std::optional<PersistedState> loadStateFile(const std::filesystem::path& path) {
    simdjson::padded_string bytes;
    if (simdjson::padded_string::load(path.string()).get(bytes) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    auto state = decodeState(bytes);
    if (!state || state->schemaVersion != PersistedState::currentSchemaVersion) {
        return std::nullopt;
    }
    return state;
}

SaveOutcome saveStateFile(const std::filesystem::path& path, std::string_view bytes) {
    FileDescriptor lock(::open(withSuffix(path, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock.valid()) {
        return SaveOutcome::failed;
    }
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return SaveOutcome::failed;
        }
    }
    // Saving every minute, most saves would rewrite hundreds of megabytes unchanged.
    if (fileHoldsExactly(path, bytes)) {
        return SaveOutcome::unchanged;
    }
    const std::filesystem::path temporary = withSuffix(path, ".tmp");
    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!file.valid()) {
        return SaveOutcome::failed;
    }
    if (!writeAll(file.get(), bytes) || ::fsync(file.get()) != 0 || !file.close()) {
        ::unlink(temporary.c_str());
        return SaveOutcome::failed;
    }
    // One rename replaces the old file: no moment exists at which neither file is whole.
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return SaveOutcome::failed;
    }
    syncFolder(path.parent_path());
    return SaveOutcome::written;
}

} // namespace fernhollow
