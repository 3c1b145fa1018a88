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
    // Keyed by a view of the stored text itself, never a copy, so that an interned text (which may
    // be a secret) is gone once its last holder lets go. The entry leaves with the text (below).
    std::unordered_map<std::string_view, std::weak_ptr<const std::string>> texts;
};

InternTable& Table() {
    static auto* table = new InternTable;
    return *table;
}

// Deleter of interned texts: drops the text's own entry (not one a newer equal text has taken
// over) before the bytes it views are freed. Never called with the table locked.
void ReleaseInterned(const std::string* text) {
    {
        auto& table = Table();
        std::lock_guard lock(table.mutex);
        if (const auto it = table.texts.find(*text); it != table.texts.end() && it->first.data() == text->data()) {
            table.texts.erase(it);
        }
    }
    delete text;
}

}  // namespace

ImmutableString::ImmutableString() : text_(EmptyText()) {}

ImmutableString::ImmutableString(std::string_view utf8)
    : text_(utf8.empty() ? EmptyText() : std::make_shared<const std::string>(utf8)) {}

ImmutableString::ImmutableString(std::u16string_view utf16) : ImmutableString(string::UTF16to8(utf16)) {}

ImmutableString ImmutableString::Intern(std::string_view utf8) {
    if (utf8.empty()) return ImmutableString();
    auto& table = Table();
    {
        std::lock_guard lock(table.mutex);
        if (const auto it = table.texts.find(utf8); it != table.texts.end()) {
            if (auto existing = it->second.lock()) return ImmutableString(std::move(existing));
        }
    }
    // Made without the lock: should making it fail, the deleter takes the lock itself. `fresh` is
    // declared before the lock below, so an unused one is released after the lock is.
    std::shared_ptr<const std::string> fresh(new std::string(utf8), &ReleaseInterned);
    std::shared_ptr<const std::string> result;
    {
        std::lock_guard lock(table.mutex);
        if (const auto it = table.texts.find(utf8); it != table.texts.end()) {
            result = it->second.lock();
            // A dead entry's text is being released right now; its deleter will see the entry gone.
            if (!result) table.texts.erase(it);
        }
        if (!result) {
            table.texts.emplace(*fresh, fresh);
            result = fresh;
        }
    }
    return ImmutableString(std::move(result));
}

std::u16string ImmutableString::UTF16() const { return string::UTF8to16(*text_); }

}  // namespace talcore::utility
