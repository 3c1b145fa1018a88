#pragma once

#include "PostProcessSDK.h"

namespace Vekta {

// Writes the plug-in's callbacks into slots 0 to 11 and 13; slot 12 is left as it is.
void FillCallbackTable(PostProcessCallbacks& table);

}  // namespace Vekta
