#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace fernhollow {

// An immutable string stored once per process and shared by every value that holds the same
// text. Millions of records name a few dozen models, projects and sessions: sharing keeps a
// record small, and equality and hashing look at one pointer instead of the characters.
// Texts are kept until the process ends; they are few.
class InternedString {
public:
    InternedString();
    InternedString(std::string_view text);
    InternedString(const std::string& text) : InternedString(std::string_view(text)) {}
    InternedString(const char* text) : InternedString(std::string_view(text)) {}

    const std::string& str() const noexcept { return *text_; }
    operator const std::string&() const noexcept { return *text_; }
    operator std::string_view() const noexcept { return *text_; }
    const char* data() const noexcept { return text_->data(); }
    std::size_t size() const noexcept { return text_->size(); }
    bool empty() const noexcept { return text_->empty(); }

    friend bool operator==(const InternedString& a, const InternedString& b) noexcept {
        return a.text_ == b.text_;
    }
    friend bool operator==(const InternedString& a, std::string_view b) noexcept { return *a.text_ == b; }
    friend bool operator==(const InternedString& a, const std::string& b) noexcept { return *a.text_ == b; }
    friend bool operator==(const InternedString& a, const char* b) noexcept { return *a.text_ == b; }
    friend auto operator<=>(const InternedString& a, const InternedString& b) noexcept {
        return *a.text_ <=> *b.text_;
    }

    // Equal texts share one address, so the address identifies the text.
    const void* identity() const noexcept { return text_; }

private:
    const std::string* text_;
};

std::ostream& operator<<(std::ostream& out, const InternedString& text);

} // namespace fernhollow

template <> struct std::hash<fernhollow::InternedString> {
    std::size_t operator()(const fernhollow::InternedString& text) const noexcept {
        return std::hash<const void*>{}(text.identity());
    }
};
