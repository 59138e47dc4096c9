#include "core/common/Zstd.h"

#include <zstd.h>

#include <memory>
#include <new>

namespace fernhollow {

bool looksZstdCompressed(std::string_view bytes) {
    return bytes.size() >= 4 && static_cast<unsigned char>(bytes[0]) == 0x28 &&
           static_cast<unsigned char>(bytes[1]) == 0xb5 && static_cast<unsigned char>(bytes[2]) == 0x2f &&
           static_cast<unsigned char>(bytes[3]) == 0xfd;
}

std::optional<PaddedFile> decompressZstd(std::string_view compressed, std::size_t limit) {
    if (!looksZstdCompressed(compressed)) {
        return std::nullopt;
    }
    // A database holds its events compressed one by one: making a context for each would cost
    // more than the decompression.
    thread_local const std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(),
                                                                                    ZSTD_freeDCtx);
    if (!context || ZSTD_isError(ZSTD_DCtx_reset(context.get(), ZSTD_reset_session_only)) != 0) {
        return std::nullopt;
    }
    // Logs compress about tenfold; starting near that size spares most regrowth.
    std::size_t capacity = std::min(limit, compressed.size() * 8 + 4096);
    PaddedFile text;
    text.reserve(capacity);
    ZSTD_inBuffer in{compressed.data(), compressed.size(), 0};
    for (;;) {
        if (text.size_ == capacity && capacity < limit) {
            capacity = capacity > limit / 2 ? limit : capacity * 2;
            text.reserve(capacity);
        }
        ZSTD_outBuffer out{text.data_.get(), capacity, text.size_};
        const std::size_t inBefore = in.pos;
        const std::size_t pending = ZSTD_decompressStream(context.get(), &out, &in);
        if (ZSTD_isError(pending) != 0) {
            return std::nullopt;
        }
        const bool progressed = out.pos > text.size_ || in.pos > inBefore;
        text.size_ = out.pos;
        if (pending == 0 && in.pos == in.size) {
            break; // the last frame has ended
        }
        // A frame cut short wants input that will never come; a full buffer at the limit, room.
        if (!progressed) {
            return std::nullopt;
        }
    }
    text.pad();
    return text;
}

std::string compressZstd(std::string_view text) {
    const std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    if (!context) {
        throw std::bad_alloc();
    }
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 1);
    std::string frame(ZSTD_compressBound(text.size()), '\0');
    const std::size_t size =
        ZSTD_compress2(context.get(), frame.data(), frame.size(), text.data(), text.size());
    if (ZSTD_isError(size) != 0) {
        throw std::bad_alloc(); // with a buffer of the bound's size, only memory can run out
    }
    frame.resize(size);
    return frame;
}

} // namespace fernhollow
