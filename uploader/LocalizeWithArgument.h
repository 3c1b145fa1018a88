#pragma once

#include <string>
#include <string_view>

namespace Vekta {

// Localises `key` and puts `argument` where "@0" stands.
std::u16string LocalizeWithArgument(std::string_view key, const std::u16string& argument);

}  // namespace Vekta
