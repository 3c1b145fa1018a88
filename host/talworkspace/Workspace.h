// The host's windows and workspace, as far as a plug-in may touch them.
#pragma once

#include "talcore/TalExport.h"

namespace talworkspace::workspace {

class TAL_API Workspace {
public:
    virtual ~Workspace() = default;
    // [main-thread] Brings the host's application window to the front.
    virtual void BringAppToFront() = 0;
};

class TAL_API TopLevelWindow {
public:
    virtual ~TopLevelWindow() = default;
    virtual Workspace* GetWorkspace() = 0;
    virtual void* GetNode() = 0;
};

class TAL_API WorkspaceUtils {
public:
    // [main-thread] The host's main window, or null when it has none (a command-line host).
    static TopLevelWindow* FindMainTopLevelWindow();
    // Host side. Null removes it.
    static void SetMainTopLevelWindow(TopLevelWindow* window);
};

}  // namespace talworkspace::workspace
