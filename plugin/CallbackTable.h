#pragma once

#include "PostProcessSDK.h"

namespace Vekta {

// Writes the plug-in's callbacks into every slot but the host's own, which is left as it is.
void FillCallbackTable(PostProcessCallbacks& table);

}  // namespace Vekta
