// An immutable, shared UTF-8 string. Equal texts made through Intern share one copy; copies of an
// ImmutableString are cheap. Texts that carry secrets are freed with their last holder.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "talcore/TalExport.h"

namespace talcore::utility {

class TAL_API ImmutableString {
public:
    ImmutableString();
    explicit ImmutableString(std::string_view utf8);
    explicit ImmutableString(std::u16string_view utf16);

    // Shares the stored copy of an equal text when there is one.
    static ImmutableString Intern(std::string_view utf8);

    const std::string& UTF8() const noexcept { return *text_; }
    std::u16string UTF16() const;
    const char* c_str() const noexcept { return text_->c_str(); }
    std::size_t size() const noexcept { return text_->size(); }
    bool empty() const noexcept { return text_->empty(); }

    friend bool operator==(const ImmutableString& a, const ImmutableString& b) noexcept {
        return a.text_ == b.text_ || *a.text_ == *b.text_;
    }
    friend bool operator<(const ImmutableString& a, const ImmutableString& b) noexcept { return *a.text_ < *b.text_; }

private:
    explicit ImmutableString(std::shared_ptr<const std::string> text) : text_(std::move(text)) {}
    std::shared_ptr<const std::string> text_;
};

}  // namespace talcore::utility

template <>
struct std::hash<talcore::utility::ImmutableString> {
    std::size_t operator()(const talcore::utility::ImmutableString& s) const noexcept {
        return std::hash<std::string>{}(s.UTF8());
    }
};
