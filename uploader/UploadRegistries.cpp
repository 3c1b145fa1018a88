#include "uploader/UploadRegistries.h"

#include <mutex>
#include <optional>

#include "talcore/threads/RecursiveMutex.h"

namespace Vekta {
namespace {

// Built at module load, before any uploader can exist; read and written only under the mutex.
talcore::threads::RecursiveMutex registryMutex;
BusySnapshot busyFlags{};
DeleteSnapshot deleteFlags{};

std::optional<std::size_t> DeleteSlot(DestinationIndex index) {
    if (index == 5 || index >= kDestinationCount) return std::nullopt;
    return index < 5 ? index : index - 1;
}

}  // namespace

void UploadBusyRegistry::SetBusy(DestinationIndex index, bool busy) {
    if (index >= kDestinationCount) return;
    std::lock_guard lock(registryMutex);
    busyFlags[index] = busy ? 1 : 0;
}

BusySnapshot UploadBusyRegistry::Snapshot() {
    std::lock_guard lock(registryMutex);
    return busyFlags;
}

bool UploadBusyRegistry::AnyBusy(const BusySnapshot& snapshot) {
    for (const auto flag : snapshot)
        if (flag != 0) return true;
    return false;
}

void DeleteRequestRegistry::SetDeleteRequested(DestinationIndex index, bool requested) {
    const auto slot = DeleteSlot(index);
    if (!slot) return;
    std::lock_guard lock(registryMutex);
    deleteFlags[*slot] = requested ? 1 : 0;
}

DeleteSnapshot DeleteRequestRegistry::Snapshot() {
    std::lock_guard lock(registryMutex);
    return deleteFlags;
}

bool DeleteRequestRegistry::DeletionAllowed(const DeleteSnapshot& deleteSnapshot, const BusySnapshot& busySnapshot) {
    std::lock_guard lock(registryMutex);
    int requested = 0;
    for (const auto flag : deleteSnapshot) requested += flag != 0 ? 1 : 0;
    return requested <= 1 && !UploadBusyRegistry::AnyBusy(busySnapshot);
}

void TakeRegistrySnapshots(BusySnapshot& busy, DeleteSnapshot& deletes) {
    std::lock_guard lock(registryMutex);
    busy = busyFlags;
    deletes = deleteFlags;
}

}  // namespace Vekta
