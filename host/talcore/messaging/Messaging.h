// Messages delivered to listeners through stations, always on the host's main thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "talcore/TalExport.h"

namespace talcore::utility {
class RefCountedObjectWithWeakPtr;
}

namespace talcore::messaging {

using MessageID = std::uint64_t;
using StationID = std::uint64_t;

// A stable id for a message type's name (the same name gives the same id in every process).
TAL_API MessageID HashMessageTypeNameToMessageID(std::string_view typeName);

struct Message {
    MessageID type = 0;
    StationID from = 0;
};

class TAL_API CommonListener {
public:
    virtual ~CommonListener() = default;
    // [main-thread]
    virtual void ReceiveMessage(const Message& message) = 0;
};

class TAL_API Listener : public virtual CommonListener {};

// [any-thread] A new station id, unique in the process.
TAL_API StationID CreateStation();
// [any-thread] Registers `listener` on `station` without keeping its owner alive: a message for an
// owner that has been released is dropped.
TAL_API void AddWeakListener(StationID station, const talcore::utility::RefCountedObjectWithWeakPtr& owner,
                             CommonListener& listener);
// [any-thread]
TAL_API void RemoveListener(StationID station, CommonListener& listener);
TAL_API void RemoveStation(StationID station);
// [any-thread] Queues `message` for every listener of `station`, on the main thread.
TAL_API void PostMessage(StationID station, const Message& message);

}  // namespace talcore::messaging
