// Inside the platform library only (not exported).
#pragma once

#include "talcore/messaging/Messaging.h"

namespace talcore::messaging::detail {

// [main-thread] Delivers `message` to the listeners of `station` now. For senders that must check,
// on the main thread and just before delivery, whether the message still stands.
void DeliverMessage(StationID station, const Message& message);

}  // namespace talcore::messaging::detail
