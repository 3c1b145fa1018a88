#include "TerminalPrompt.h"

#include <cstdio>
#include <string>

#include "HostSystem.h"
#include "talcore/string/Unicode.h"

namespace vekta::host {

std::atomic<bool>& InterruptRequested() {
    static std::atomic<bool> requested{false};
    return requested;
}

TerminalPrompt::~TerminalPrompt() {
    if (watcher_.joinable()) watcher_.join();
}

void TerminalPrompt::Show(talui::dialogs::UI_MessageBox& box) {
    const auto& captions = box.GetCaptions();
    std::u16string button;
    for (const auto& caption : captions)
        if (!caption.empty()) button = caption;
    std::printf("\n== %s ==\n%s\n", talcore::string::UTF16to8(box.GetTitle()).c_str(),
                talcore::string::UTF16to8(box.GetMessage()).c_str());
    if (StdinIsTerminal()) {
        std::printf("(press Enter or Ctrl-C to %s)\n", talcore::string::UTF16to8(button).c_str());
    }
    std::fflush(stdout);
    if (watcher_.joinable()) watcher_.join();
    hidden_ = false;
    watcher_ = std::thread([this, &box] { Watch(box); });
}

void TerminalPrompt::Hidden(talui::dialogs::UI_MessageBox&) {
    hidden_ = true;
    if (watcher_.joinable()) watcher_.join();
}

void TerminalPrompt::Watch(talui::dialogs::UI_MessageBox& box) {
    const bool terminal = StdinIsTerminal();
    const auto giveUp = std::chrono::steady_clock::now() + unattendedLimit_;
    const int button = box.GetCaptions()[1].empty() ? 0 : 1;
    while (!hidden_ && !box.IsClosed()) {
        if (InterruptRequested().exchange(false) || (terminal && EnterPressed())) {
            std::printf("Cancelled.\n");
            box.PressButton(button);
            return;
        }
        if (!terminal) {
            if (std::chrono::steady_clock::now() >= giveUp) {
                std::printf("Giving up: no sign-in arrived in time.\n");
                box.PressButton(button);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

}  // namespace vekta::host
