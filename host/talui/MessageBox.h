// The host's modal message box, and the nodes it hangs off.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "talcore/TalExport.h"
#include "talcore/utility/RefCounted.h"

namespace talui::ui {

class TAL_API DrawSupplier {
public:
    virtual ~DrawSupplier() = default;
};

class TAL_API UI_NodeManager {
public:
    // [main-thread] The node manager of the host's UI (index 0 is the only one).
    static UI_NodeManager& Get(int index);
    DrawSupplier* GetDefaultDrawSupplier();

private:
    UI_NodeManager() = default;
};

// A window, or none, as the parent of a dialog.
class TAL_API WindowVariant {
public:
    explicit WindowVariant(void* node) : node_(node) {}
    void* GetNode() const noexcept { return node_; }

private:
    void* node_;
};

}  // namespace talui::ui

namespace talui::dialogs {

class UI_MessageBox;

// Host side: shows boxes to the user. Show is called on the main thread when a box's modal run
// starts; the presenter ends it by pressing a button (PressButton) or closing it (Close) from any
// thread. Hidden is called when the box has closed.
class TAL_API MessageBoxPresenter {
public:
    virtual ~MessageBoxPresenter() = default;
    virtual void Show(UI_MessageBox& box) = 0;
    virtual void Hidden(UI_MessageBox& box) = 0;
};

// Host side. The presenter for boxes from now on; null shows nothing (boxes still run modally
// until closed).
TAL_API void SetMessageBoxPresenter(MessageBoxPresenter* presenter);

class TAL_API UI_MessageBox : public talcore::utility::RefCountedObjectWithWeakPtr {
public:
    // Up to four buttons, by caption; an empty caption is no button.
    UI_MessageBox(ui::DrawSupplier* drawSupplier, std::u16string title, std::u16string message,
                  const ui::WindowVariant& parent, std::u16string caption0, std::u16string caption1,
                  std::u16string caption2, std::u16string caption3, int buttonFlags, int defaultButtonValue,
                  int iconValue, unsigned int options, float width, float height,
                  std::function<void(int buttonValue)> messageCallback, bool modal, int dialogVariant);

    // [main-thread] Shows the box and keeps the main thread's tasks running until it closes; returns
    // the value of the button that closed it, or 0 when closed otherwise. Off the main thread the box
    // is not shown and this returns 0 at once.
    virtual int RunModal();
    // [any-thread] Ends a running modal run (and keeps a later one from starting).
    virtual void Close();
    // [any-thread] What a press of button `index` does: the box closes with that button's value.
    void PressButton(int index);

    const std::u16string& GetTitle() const noexcept { return title_; }
    const std::u16string& GetMessage() const noexcept { return message_; }
    const std::array<std::u16string, 4>& GetCaptions() const noexcept { return captions_; }
    void* GetParentNode() const noexcept { return parentNode_; }
    bool IsClosed() const noexcept { return closed_.load(); }

protected:
    ~UI_MessageBox() override;

private:
    std::u16string title_;
    std::u16string message_;
    std::array<std::u16string, 4> captions_;
    void* parentNode_;
    int defaultButtonValue_;
    std::function<void(int)> messageCallback_;
    std::atomic<bool> closed_{false};
    std::atomic<int> result_{0};
};

}  // namespace talui::dialogs
