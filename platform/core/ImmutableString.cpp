#include "talcore/string/ImmutableString.h"

#include <mutex>
#include <unordered_map>

#include "talcore/string/Unicode.h"

namespace talcore::utility {
namespace {

const std::shared_ptr<const std::string>& EmptyText() {
    static const auto empty = std::make_shared<const std::string>();
    return empty;
}

struct InternTable {
    std::mutex mutex;
    // Weak, so an interned text lives only as long as someone holds it.
    std::unordered_map<std::string, std::weak_ptr<const std::string>> texts;
};

InternTable& Table() {
    static auto* table = new InternTable;
    return *table;
}

}  // namespace

ImmutableString::ImmutableString() : text_(EmptyText()) {}

ImmutableString::ImmutableString(std::string_view utf8)
    : text_(utf8.empty() ? EmptyText() : std::make_shared<const std::string>(utf8)) {}

ImmutableString::ImmutableString(std::u16string_view utf16) : ImmutableString(string::UTF16to8(utf16)) {}

ImmutableString ImmutableString::Intern(std::string_view utf8) {
    if (utf8.empty()) return ImmutableString();
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    auto [it, inserted] = table.texts.try_emplace(std::string(utf8));
    if (auto existing = it->second.lock()) return ImmutableString(std::move(existing));
    auto text = std::make_shared<const std::string>(utf8);
    it->second = text;
    if (table.texts.size() > 4096) std::erase_if(table.texts, [](const auto& e) { return e.second.expired(); });
    return ImmutableString(std::move(text));
}

std::u16string ImmutableString::UTF16() const { return string::UTF8to16(*text_); }

}  // namespace talcore::utility
