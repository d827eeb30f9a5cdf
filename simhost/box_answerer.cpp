#include "simhost/box_answerer.h"

namespace simhost {

MessageBoxAnswerer::MessageBoxAnswerer(std::function<void(const std::wstring&)> heard, const wchar_t* title)
    : heard_(std::move(heard)), title_(title ? title : L""), thread_([this] { Run(); }) {}

MessageBoxAnswerer::~MessageBoxAnswerer() {
    stop_ = true;
    thread_.join();
}

std::vector<std::wstring> MessageBoxAnswerer::Texts() const {
    std::lock_guard lock(mutex_);
    return texts_;
}

void MessageBoxAnswerer::Run() {
    while (!stop_) {
        HWND box = FindWindowW(L"#32770", title_.empty() ? nullptr : title_.c_str());
        if (box && IsWindowVisible(box)) {
            wchar_t text[1024] = L"";
            GetDlgItemTextW(box, 0xFFFF, text, 1024);  // the message's static control (paths included)
            {
                std::lock_guard lock(mutex_);
                texts_.push_back(text);
            }
            if (heard_) heard_(text);
            // Pressing OK as a user does: the button's click, through the dialog.
            SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
            ++answered_;
            while (!stop_ && IsWindow(box)) Sleep(5);
        }
        Sleep(10);
    }
}

}  // namespace simhost
