#include "app.h"

#include <algorithm>

namespace quillomir::win32 {

void App::AddDialog(HWND window) {
    dialogs_.push_back(window);
}

void App::RemoveDialog(HWND window) {
    std::erase(dialogs_, window);
}

bool App::TranslateDialogMessage(MSG& message) {
    for (HWND dialog : dialogs_) {
        if (IsDialogMessageW(dialog, &message)) {
            return true;
        }
    }
    return false;
}

int App::Run() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!TranslateDialogMessage(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

}  // namespace quillomir::win32
