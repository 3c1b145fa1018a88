#include "talcore/config/Localizer.h"

#include "talcore/string/Unicode.h"

namespace talcore::config {
namespace {

constexpr std::string_view kKeyPrefix = "$$$/";

std::string DefaultText(std::string_view text) {
    if (const auto comment = text.find("#{"); comment != std::string_view::npos) text = text.substr(0, comment);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out.push_back('\n');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

}  // namespace

Localizer& Localizer::Get() {
    static auto* localizer = new Localizer;
    return *localizer;
}

std::u16string Localizer::Localize(std::string_view keyWithDefault) const {
    if (!keyWithDefault.starts_with(kKeyPrefix)) return string::UTF8to16(keyWithDefault);
    const auto equals = keyWithDefault.find('=');
    const std::string_view key = keyWithDefault.substr(0, equals);
    std::shared_ptr<const std::map<std::string, std::string>> table;
    {
        std::lock_guard lock(mutex_);
        table = translations_;
    }
    if (table) {
        if (const auto it = table->find(std::string(key)); it != table->end()) return string::UTF8to16(it->second);
    }
    if (equals == std::string_view::npos) return string::UTF8to16(key);
    return string::UTF8to16(DefaultText(keyWithDefault.substr(equals + 1)));
}

void Localizer::InstallTranslations(std::map<std::string, std::string> table) {
    auto shared =
        table.empty() ? nullptr : std::make_shared<const std::map<std::string, std::string>>(std::move(table));
    std::lock_guard lock(mutex_);
    translations_ = std::move(shared);
}

}  // namespace talcore::config
