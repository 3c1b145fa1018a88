// Shows the plug-in's message boxes in the terminal. On a terminal, Enter or Ctrl-C presses the
// box's button; otherwise the box waits for the plug-in to close it, at most `unattendedLimit`
// (end of input is not a press).
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "talui/MessageBox.h"

namespace vekta::host {

class TerminalPrompt final : public talui::dialogs::MessageBoxPresenter {
public:
    explicit TerminalPrompt(std::chrono::seconds unattendedLimit) : unattendedLimit_(unattendedLimit) {}
    ~TerminalPrompt() override;

    void Show(talui::dialogs::UI_MessageBox& box) override;
    void Hidden(talui::dialogs::UI_MessageBox& box) override;

private:
    void Watch(talui::dialogs::UI_MessageBox& box);

    std::chrono::seconds unattendedLimit_;
    std::thread watcher_;
    std::atomic<bool> hidden_{false};
};

// Ctrl-C: set by the host's interrupt handler (InstallInterruptHandler), read by whoever can act on it.
std::atomic<bool>& InterruptRequested();

}  // namespace vekta::host
