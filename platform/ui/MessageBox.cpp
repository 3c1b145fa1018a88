#include "talui/MessageBox.h"

#include <chrono>

#include "talcore/threads/MainThread.h"

namespace talui {
namespace {

std::atomic<dialogs::MessageBoxPresenter*>& Presenter() {
    static std::atomic<dialogs::MessageBoxPresenter*> presenter{nullptr};
    return presenter;
}

}  // namespace

namespace ui {

UI_NodeManager& UI_NodeManager::Get(int /*index*/) {
    static UI_NodeManager manager;
    return manager;
}

DrawSupplier* UI_NodeManager::GetDefaultDrawSupplier() {
    static DrawSupplier supplier;
    return &supplier;
}

}  // namespace ui

namespace dialogs {

void SetMessageBoxPresenter(MessageBoxPresenter* presenter) { Presenter().store(presenter); }

UI_MessageBox::UI_MessageBox(ui::DrawSupplier* /*drawSupplier*/, std::u16string title, std::u16string message,
                             const ui::WindowVariant& parent, std::u16string caption0, std::u16string caption1,
                             std::u16string caption2, std::u16string caption3, int /*buttonFlags*/,
                             int defaultButtonValue, int /*iconValue*/, unsigned int /*options*/, float /*width*/,
                             float /*height*/, std::function<void(int)> messageCallback, bool /*modal*/,
                             int /*dialogVariant*/)
    : title_(std::move(title)),
      message_(std::move(message)),
      captions_{std::move(caption0), std::move(caption1), std::move(caption2), std::move(caption3)},
      parentNode_(parent.GetNode()),
      defaultButtonValue_(defaultButtonValue),
      messageCallback_(std::move(messageCallback)) {}

UI_MessageBox::~UI_MessageBox() = default;

int UI_MessageBox::RunModal() {
    if (!talcore::threads::CurrentThreadIsMainThread()) return 0;
    auto* presenter = Presenter().load();
    if (presenter && !closed_) presenter->Show(*this);
    // The host's main thread keeps working (timers, messages) while the box is up.
    talcore::threads::PumpMainThreadTasksUntil([this] { return closed_.load(); },
                                               std::chrono::steady_clock::time_point::max());
    if (presenter) presenter->Hidden(*this);
    return result_.load();
}

void UI_MessageBox::Close() {
    closed_ = true;
    talcore::threads::WakeMainThread();
}

void UI_MessageBox::PressButton(int index) {
    if (index < 0 || index > 3 || captions_[static_cast<std::size_t>(index)].empty()) return;
    result_ = defaultButtonValue_;
    if (messageCallback_) messageCallback_(defaultButtonValue_);
    Close();
}

}  // namespace dialogs
}  // namespace talui
