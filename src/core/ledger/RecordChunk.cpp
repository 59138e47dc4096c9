#include "core/ledger/RecordChunk.h"

#include "core/ledger/Sqlite.h"

#include <array>

namespace fernhollow::recordchunk {
namespace {

// The fields a record holds only where they differ from the record's before it, a bit each of
// the byte that leads the record, in this order.
template <typename Record> auto namedFields(Record& record) {
    return std::array{&record.source, &record.model, &record.project, &record.session, &record.priceClass};
}

// Signed values as unsigned ones that stay small when the value is near zero either way.
std::uint64_t zigzag(std::int64_t value) {
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::int64_t unzigzag(std::uint64_t value) {
    return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

// Writes `value` seven bits a byte, low first, at `out`; gives where the next byte goes.
char* putVarint(char* out, std::uint64_t value) {
    while (value >= 0x80) {
        *out++ = static_cast<char>((value & 0x7f) | 0x80);
        value >>= 7;
    }
    *out++ = static_cast<char>(value);
    return out;
}

[[noreturn]] void damaged() {
    throw sqlite::Error(SQLITE_CORRUPT, "a packed block of shared records in the usage ledger is damaged");
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    std::uint64_t varint() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const auto byte = static_cast<unsigned char>(next());
            value |= std::uint64_t{byte & 0x7fu} << shift;
            if ((byte & 0x80) == 0) {
                return value;
            }
        }
        damaged();
    }
    std::int64_t signedValue() { return unzigzag(varint()); }
    std::int64_t fixed64() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value |= std::uint64_t{static_cast<unsigned char>(next())} << (8 * i);
        }
        return static_cast<std::int64_t>(value);
    }
    unsigned char byte() { return static_cast<unsigned char>(next()); }
    std::size_t left() const { return bytes_.size() - position_; }

private:
    char next() {
        if (position_ == bytes_.size()) {
            damaged();
        }
        return bytes_[position_++];
    }

    std::string_view bytes_;
    std::size_t position_ = 0;
};

// The smallest a packed record can be: its fields byte, its time, its identity and five counts.
constexpr std::size_t smallestRecordBytes = 1 + 1 + 8 + 5;

} // namespace

std::string encode(std::span<const StoredRecord> records) {
    // Written through a pointer into room for the longest a record can be: a merge packs millions.
    constexpr std::size_t longestVarint = 10;
    constexpr std::size_t longestRecord = 1 + 8 + (1 + 5 + 5) * longestVarint;
    std::string out(longestVarint + records.size() * longestRecord, '\0');
    char* end = putVarint(out.data(), records.size());
    StoredRecord before;
    for (const StoredRecord& record : records) {
        const auto named = namedFields(record);
        const auto namedBefore = namedFields(before);
        unsigned fields = 0;
        for (unsigned field = 0; field < named.size(); ++field) {
            fields |= *named[field] != *namedBefore[field] ? 1u << field : 0u;
        }
        *end++ = static_cast<char>(fields);
        // Wraps rather than overflows for times far apart; decoding wraps back.
        end = putVarint(end, zigzag(static_cast<std::int64_t>(static_cast<std::uint64_t>(record.at) -
                                                              static_cast<std::uint64_t>(before.at))));
        for (int i = 0; i < 8; ++i) {
            *end++ = static_cast<char>((static_cast<std::uint64_t>(record.identity) >> (8 * i)) & 0xff);
        }
        for (unsigned field = 0; field < named.size(); ++field) {
            if ((fields & (1u << field)) != 0) {
                end = putVarint(end, zigzag(*named[field]));
            }
        }
        for (const std::int64_t count : record.counts) {
            end = putVarint(end, zigzag(count));
        }
        before = record;
    }
    out.resize(static_cast<std::size_t>(end - out.data()));
    return out;
}

void decode(std::string_view bytes, std::int64_t device, std::vector<StoredRecord>& records) {
    Reader reader(bytes);
    const std::uint64_t count = reader.varint();
    if (count > reader.left() / smallestRecordBytes) {
        damaged();
    }
    records.reserve(records.size() + count);
    StoredRecord record;
    record.device = device;
    for (std::uint64_t i = 0; i < count; ++i) {
        const unsigned fields = reader.byte();
        if (fields >= 1u << namedFields(record).size()) {
            damaged();
        }
        record.at = static_cast<std::int64_t>(static_cast<std::uint64_t>(record.at) +
                                              static_cast<std::uint64_t>(reader.signedValue()));
        record.identity = reader.fixed64();
        const auto named = namedFields(record);
        for (unsigned field = 0; field < named.size(); ++field) {
            if ((fields & (1u << field)) != 0) {
                *named[field] = reader.signedValue();
            }
        }
        for (std::int64_t& value : record.counts) {
            value = reader.signedValue();
        }
        records.push_back(record);
    }
    if (reader.left() != 0) {
        damaged();
    }
}

} // namespace fernhollow::recordchunk
