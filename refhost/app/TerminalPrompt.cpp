#include "TerminalPrompt.h"

#include <csignal>
#include <cstdio>
#include <string>

#include "talcore/string/Unicode.h"

#if !defined(_WIN32)
#include <poll.h>
#include <unistd.h>
#endif

namespace vekta::host {
namespace {

bool StdinIsTerminal() {
#if defined(_WIN32)
    return false;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

// Waits up to 100 ms for a line on a terminal; true when Enter was pressed.
bool EnterPressed() {
#if defined(_WIN32)
    return false;
#else
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 100) <= 0 || (in.revents & POLLIN) == 0) return false;
    char buffer[256];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    return n > 0;
#endif
}

void OnInterrupt(int) { InterruptRequested().store(true); }

}  // namespace

std::atomic<bool>& InterruptRequested() {
    static std::atomic<bool> requested{false};
    return requested;
}

void InstallInterruptHandler() {
    std::signal(SIGINT, &OnInterrupt);
    std::signal(SIGTERM, &OnInterrupt);
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
