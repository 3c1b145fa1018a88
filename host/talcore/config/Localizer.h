// Resolves localisation keys of the form "$$$/Path/Key=English text#{translator comment}".
//
// Without a translation table the English text after the first "=" is the result, with the
// translator comment dropped and each two-character sequence \n turned into a line feed. With a
// table installed by the host, the translation of the key part ("$$$/Path/Key") wins. A text that
// is not a key comes back as it is.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "talcore/TalExport.h"

namespace talcore::config {

class TAL_API Localizer {
public:
    // [any-thread] The process-wide localiser.
    static Localizer& Get();

    // [any-thread]
    std::u16string Localize(std::string_view keyWithDefault) const;

    // Host side. [any-thread] Installs a table from key ("$$$/Path/Key") to UTF-8 translation;
    // an empty table removes it.
    void InstallTranslations(std::map<std::string, std::string> table);

private:
    Localizer() = default;
    mutable std::mutex mutex_;
    std::shared_ptr<const std::map<std::string, std::string>> translations_;
};

}  // namespace talcore::config
