#include "core/sync/SharedUsageFile.h"

#include "core/common/Zstd.h"
#include "core/model/PriceClass.h"
#include "core/model/UsageSource.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <span>

namespace fernhollow::sharedfile {
namespace {

constexpr std::string_view title = "Fernhollow shared usage\n";
// Far more than any machine writes at once; a count beyond it is a damaged block.
constexpr std::uint64_t largestCount = std::uint64_t{1} << 28;
// Some twenty million records; a file that claims more is damaged, or meant to fill the memory.
constexpr std::size_t largestBlocksText = std::size_t{1} << 31;

void putInteger(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    }
}

// Reads the little-endian integers a block is made of; any read past the end fails the block.
class BlockReader {
public:
    explicit BlockReader(std::string_view bytes) : bytes_(bytes) {}

    std::optional<std::uint64_t> integer(int size) {
        if (bytes_.size() - position_ < static_cast<std::size_t>(size)) {
            return std::nullopt;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i) {
            value |= std::uint64_t{static_cast<unsigned char>(bytes_[position_++])} << (8 * i);
        }
        return value;
    }
    // Fills `values` from as many 8-byte integers, read whole where the machine is little-endian
    // too: a merge reads millions of them.
    bool integers(std::span<std::int64_t> values) {
        const std::size_t size = values.size() * 8;
        if (bytes_.size() - position_ < size) {
            return false;
        }
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(values.data(), bytes_.data() + position_, size);
            position_ += size;
        } else {
            for (std::int64_t& value : values) {
                value = static_cast<std::int64_t>(*integer(8));
            }
        }
        return true;
    }
    std::optional<std::string_view> text(std::uint64_t size) {
        if (bytes_.size() - position_ < size) {
            return std::nullopt;
        }
        const std::string_view text = bytes_.substr(position_, size);
        position_ += size;
        return text;
    }
    bool atEnd() const { return position_ == bytes_.size(); }

private:
    std::string_view bytes_;
    std::size_t position_ = 0;
};

// Within these, a record's time has its quarter-hour and its four counts their sum without
// overflow, as the ledger takes them; no machine ever wrote a record beyond them.
constexpr std::int64_t latestMs = 4'000'000'000'000'000'000;
constexpr std::int64_t largestTokenCount = INT64_MAX / 8;

bool isSound(const StoredRecord& record, std::size_t names) {
    const auto named = [names](std::int64_t index) {
        return index >= 0 && static_cast<std::size_t>(index) < names;
    };
    return record.source >= 0 && record.source < static_cast<std::int64_t>(std::size(allUsageSources)) &&
           record.at >= -latestMs && record.at <= latestMs && named(record.model) && named(record.project) &&
           named(record.session) &&
           std::ranges::all_of(record.counts,
                               [](std::int64_t count) { return count >= 0 && count <= largestTokenCount; }) &&
           record.priceClass >= 0 && record.priceClass < static_cast<std::int64_t>(priceClass::count);
}

std::optional<SharedBlock> readBlock(BlockReader& reader) {
    SharedBlock block;
    const auto writtenAt = reader.integer(8);
    const auto nameCount = reader.integer(4);
    if (!writtenAt || !nameCount || *nameCount > largestCount) {
        return std::nullopt;
    }
    block.writtenAt = static_cast<double>(static_cast<std::int64_t>(*writtenAt)) / 1000.0;
    for (std::uint64_t i = 0; i < *nameCount; ++i) {
        const auto length = reader.integer(4);
        const auto name = length ? reader.text(*length) : std::nullopt;
        if (!name) {
            return std::nullopt;
        }
        block.names.emplace_back(*name);
    }
    const auto recordCount = reader.integer(4);
    if (!recordCount || *recordCount > largestCount) {
        return std::nullopt;
    }
    block.records.reserve(static_cast<std::size_t>(*recordCount));
    for (std::uint64_t i = 0; i < *recordCount; ++i) {
        std::array<std::int64_t, 12> fields{};
        if (!reader.integers(fields)) {
            return std::nullopt;
        }
        const StoredRecord record{fields[0],
                                  fields[1],
                                  fields[2],
                                  fields[3],
                                  fields[4],
                                  fields[5],
                                  {fields[6], fields[7], fields[8], fields[9], fields[10]},
                                  fields[11]};
        if (!isSound(record, block.names.size())) {
            return std::nullopt;
        }
        block.records.push_back(record);
    }
    return block;
}

// The value of the header line "key value", if `line` is one.
std::optional<std::string_view> valueOf(std::string_view line, std::string_view key) {
    if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == ' ') {
        return line.substr(key.size() + 1);
    }
    return std::nullopt;
}

std::string withoutLineBreaks(std::string text) {
    std::ranges::replace_if(
        text, [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

} // namespace

std::string fileName(const DeviceIdentity& device) {
    std::string host;
    for (const char c : device.host) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_';
        host.push_back(plain ? c : '_');
    }
    return (host.empty() ? "machine" : host) + "." + device.id + std::string(extension);
}

std::string header(const DeviceIdentity& device) {
    return std::string(title) + "version " + std::to_string(version) + "\ndevice " +
           withoutLineBreaks(device.id) + "\nhost " + withoutLineBreaks(device.host) + "\n\n";
}

std::string encodeBlock(const SharedBlock& block) {
    std::string bytes;
    bytes.reserve(16 + block.names.size() * 24 + block.records.size() * 96);
    putInteger(bytes, static_cast<std::uint64_t>(std::llround(block.writtenAt * 1000.0)), 8);
    putInteger(bytes, block.names.size(), 4);
    for (const std::string& name : block.names) {
        putInteger(bytes, name.size(), 4);
        bytes += name;
    }
    putInteger(bytes, block.records.size(), 4);
    for (const StoredRecord& record : block.records) {
        for (const std::int64_t field :
             {record.identity, record.source, record.at, record.model, record.project, record.session}) {
            putInteger(bytes, static_cast<std::uint64_t>(field), 8);
        }
        for (const std::int64_t count : record.counts) {
            putInteger(bytes, static_cast<std::uint64_t>(count), 8);
        }
        putInteger(bytes, static_cast<std::uint64_t>(record.priceClass), 8);
    }
    return compressZstd(bytes);
}

std::variant<Header, std::string> decodeHeader(std::string_view bytes) {
    if (!bytes.starts_with(title)) {
        return std::string("not a Fernhollow shared usage file");
    }
    const std::size_t end = bytes.substr(0, longestHeader).find("\n\n");
    if (end == std::string_view::npos) {
        return std::string("its header is cut short");
    }
    Header header;
    header.end = end + 2;
    int fileVersion = 0;
    std::string_view lines = bytes.substr(title.size(), end + 1 - title.size());
    while (!lines.empty()) {
        const std::string_view line = lines.substr(0, lines.find('\n'));
        lines.remove_prefix(line.size() + 1);
        if (const auto value = valueOf(line, "version")) {
            std::from_chars(value->data(), value->data() + value->size(), fileVersion);
        } else if (const auto id = valueOf(line, "device")) {
            header.device.id = std::string(*id);
        } else if (const auto host = valueOf(line, "host")) {
            header.device.host = std::string(*host);
        }
    }
    if (fileVersion > version) {
        return std::string("written by a newer Fernhollow");
    }
    if (fileVersion != version) {
        return std::string("its version is not known");
    }
    if (header.device.id.empty()) {
        return std::string("it names no machine");
    }
    return header;
}

std::variant<std::vector<SharedBlock>, std::string> decodeBlocks(std::string_view frames) {
    std::vector<SharedBlock> blocks;
    if (frames.empty()) {
        return blocks;
    }
    // Blocks are read from what every frame decompresses to, one after another; a frame cut
    // short or failing its checksum fails the file.
    const auto text = decompressZstd(frames, largestBlocksText);
    if (!text) {
        return std::string("it is damaged or still being copied");
    }
    BlockReader reader(text->bytes());
    while (!reader.atEnd()) {
        auto block = readBlock(reader);
        if (!block) {
            return std::string("it is damaged");
        }
        blocks.push_back(std::move(*block));
    }
    return blocks;
}

} // namespace fernhollow::sharedfile
