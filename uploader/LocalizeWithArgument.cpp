#include "uploader/LocalizeWithArgument.h"

#include <array>

#include "talcore/config/Localizer.h"
#include "talcore/string/ReplaceInString.h"

namespace Vekta {

std::u16string LocalizeWithArgument(std::string_view key, const std::u16string& argument) {
    std::array<std::u16string, 10> replacements;
    replacements[0] = argument;
    return talcore::string::ReplaceInString(talcore::config::Localizer::Get().Localize(key), replacements);
}

}  // namespace Vekta
