// Module-wide registries shared by every uploader of the module: which destinations are busy
// uploading, and which asked for the exported file to be deleted afterwards. Both are guarded by
// one recursive mutex; every snapshot is a copy taken under it.
#pragma once

#include <array>
#include <cstdint>

#include "uploader/UploadTypes.h"

namespace Vekta {

using BusySnapshot = std::array<std::uint8_t, kDestinationCount>;
// Destination 5 has no delete flag, so there are ten.
using DeleteSnapshot = std::array<std::uint8_t, 10>;

namespace UploadBusyRegistry {
// Out-of-range indexes are ignored.
void SetBusy(DestinationIndex index, bool busy);
BusySnapshot Snapshot();
// Whether any of the eleven destinations is busy in `snapshot`.
bool AnyBusy(const BusySnapshot& snapshot);
}  // namespace UploadBusyRegistry

namespace DeleteRequestRegistry {
// Index 5 and out-of-range indexes are ignored.
void SetDeleteRequested(DestinationIndex index, bool requested);
DeleteSnapshot Snapshot();
// Deleting is allowed when at most one destination asks for it (the caller's own flag counts) and
// none is busy.
bool DeletionAllowed(const DeleteSnapshot& deleteFlags, const BusySnapshot& busyFlags);
}  // namespace DeleteRequestRegistry

// Both snapshots taken under the mutex at once, so they describe the same moment.
void TakeRegistrySnapshots(BusySnapshot& busy, DeleteSnapshot& deleteFlags);

}  // namespace Vekta
