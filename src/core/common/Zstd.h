#pragma once

#include "core/common/PaddedFile.h"

#include <optional>
#include <string>
#include <string_view>

namespace fernhollow {

// Whether `bytes` begin as a zstd frame does.
bool looksZstdCompressed(std::string_view bytes);

// The text of every zstd frame in `compressed`, one after another, padded for simdjson.
// Nothing when the bytes are not whole zstd frames, or would grow past `limit` bytes: a
// damaged or hostile archive must not fill the memory.
std::optional<PaddedFile> decompressZstd(std::string_view compressed,
                                         std::size_t limit = std::size_t{1} << 32);

// `text` as one zstd frame that carries its own checksum, so a reader tells a damaged copy from
// a sound one.
std::string compressZstd(std::string_view text);

} // namespace fernhollow
