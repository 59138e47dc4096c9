#include "core/model/Utf8.h"

#include <simdjson.h>

#include <algorithm>

namespace fernhollow::utf8 {
namespace {

// How long the sequence a byte begins is, and the range its second byte must fall in
// (Unicode table 3-7); length 0 for a byte that begins none.
struct Lead {
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
};

Lead leadOf(unsigned char byte) {
    if (byte < 0x80) {
        return {1};
    }
    if (byte >= 0xC2 && byte <= 0xDF) {
        return {2};
    }
    if (byte >= 0xE0 && byte <= 0xEF) {
        return {3, static_cast<unsigned char>(byte == 0xE0 ? 0xA0 : 0x80),
                static_cast<unsigned char>(byte == 0xED ? 0x9F : 0xBF)};
    }
    if (byte >= 0xF0 && byte <= 0xF4) {
        return {4, static_cast<unsigned char>(byte == 0xF0 ? 0x90 : 0x80),
                static_cast<unsigned char>(byte == 0xF4 ? 0x8F : 0xBF)};
    }
    return {};
}

unsigned char byteAt(std::string_view bytes, std::size_t i) {
    return static_cast<unsigned char>(bytes[i]);
}

// How many bytes from the lead at `i` on, the lead included, belong to its sequence before
// one falls out of range, the sequence ends or the text does.
std::size_t fittingBytes(std::string_view bytes, std::size_t i, const Lead& lead) {
    std::size_t k = 1;
    for (; k < lead.length && i + k < bytes.size(); ++k) {
        const unsigned char next = byteAt(bytes, i + k);
        if (next < (k == 1 ? lead.low : 0x80) || next > (k == 1 ? lead.high : 0xBF)) {
            break;
        }
    }
    return k;
}

// Length of the well-formed sequence starting at `i`, or 0.
std::size_t sequenceLength(std::string_view bytes, std::size_t i) {
    const Lead lead = leadOf(byteAt(bytes, i));
    return lead.length != 0 && fittingBytes(bytes, i, lead) == lead.length ? lead.length : 0;
}

} // namespace

bool isValid(std::string_view bytes) {
    return simdjson::validate_utf8(bytes.data(), bytes.size());
}

std::size_t unfinishedEndLength(std::string_view bytes) {
    for (std::size_t back = 1; back <= std::min<std::size_t>(3, bytes.size()); ++back) {
        const std::size_t i = bytes.size() - back;
        const unsigned char byte = byteAt(bytes, i);
        if (byte >= 0x80 && byte <= 0xBF) {
            continue; // a continuation byte: its lead lies further back
        }
        const Lead lead = leadOf(byte);
        return back < lead.length && fittingBytes(bytes, i, lead) == back ? back : 0;
    }
    return 0;
}

std::string toValid(std::string_view bytes) {
    if (isValid(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() + 8);
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = sequenceLength(bytes, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes, i, length);
            i += length;
        }
    }
    return out;
}

} // namespace fernhollow::utf8
