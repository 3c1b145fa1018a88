#include "talworkspace/Workspace.h"

#include <atomic>

namespace talworkspace::workspace {
namespace {

std::atomic<TopLevelWindow*>& MainWindow() {
    static std::atomic<TopLevelWindow*> window{nullptr};
    return window;
}

}  // namespace

TopLevelWindow* WorkspaceUtils::FindMainTopLevelWindow() { return MainWindow().load(); }

void WorkspaceUtils::SetMainTopLevelWindow(TopLevelWindow* window) { MainWindow().store(window); }

}  // namespace talworkspace::workspace
