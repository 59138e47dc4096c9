#include "core/model/InternedString.h"

#include <mutex>
#include <ostream>
#include <shared_mutex>
#include <unordered_set>

namespace fernhollow {
namespace {

struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

class Pool {
public:
    const std::string* intern(std::string_view text) {
        {
            const std::shared_lock reading(mutex_);
            if (const auto it = texts_.find(text); it != texts_.end()) {
                return &*it;
            }
        }
        const std::unique_lock writing(mutex_);
        return &*texts_.emplace(text).first; // the set's nodes never move
    }

private:
    std::shared_mutex mutex_;
    std::unordered_set<std::string, TextHash, std::equal_to<>> texts_;
};

Pool& pool() {
    static Pool instance;
    return instance;
}

const std::string* internCached(std::string_view text) {
    // Records arrive in runs that share their names: the last answer usually fits.
    thread_local const std::string* last = nullptr;
    if (last == nullptr || *last != text) {
        last = pool().intern(text);
    }
    return last;
}

} // namespace

InternedString::InternedString() : text_(internCached({})) {}

InternedString::InternedString(std::string_view text) : text_(internCached(text)) {}

std::ostream& operator<<(std::ostream& out, const InternedString& text) {
    return out << text.str();
}

} // namespace fernhollow
