#include "talcore/string/ReplaceInString.h"

namespace talcore::string {

std::u16string ReplaceInString(std::u16string_view text, const std::array<std::u16string, 10>& replacements) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'@' && i + 1 < text.size()) {
            const char16_t next = text[i + 1];
            if (next >= u'0' && next <= u'9') {
                out += replacements[static_cast<std::size_t>(next - u'0')];
                ++i;
                continue;
            }
            if (next == u'@') {
                out.push_back(u'@');
                ++i;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace talcore::string
