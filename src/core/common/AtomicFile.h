#pragma once

#include <filesystem>
#include <span>
#include <string>

namespace fernhollow {

enum class SaveOutcome { written, unchanged, failed };

// Replaces `path` with `bytes` so that a crash at any moment leaves either the old or the
// new file whole: the bytes go to "<path>.tmp", are flushed, and are renamed over `path`.
// Writers in any number of threads or processes are serialised by an advisory lock on
// "<path>.lock". Bytes equal to the file already there are not written again. The file is
// readable by its owner only.
// The content is given as consecutive pieces, written one after the other.
SaveOutcome replaceFileAtomically(const std::filesystem::path& path, std::span<const std::string> pieces);

inline SaveOutcome replaceFileAtomically(const std::filesystem::path& path, const std::string& bytes) {
    return replaceFileAtomically(path, std::span(&bytes, 1));
}

} // namespace fernhollow
