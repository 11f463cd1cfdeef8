#include "layout_window.h"

#include <algorithm>

#include "control_fonts.h"
#include "dpi.h"
#include "text.h"
#include "user32_function.h"
#include "window_object.h"

namespace quillomir::win32 {

namespace {

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
// Clear of IDOK and IDCANCEL, so Enter and Esc press neither button.
constexpr int kFirstControlId = 100;

using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

struct ClassAndStyle {
    const wchar_t* className;
    DWORD style;
};

ClassAndStyle StyleOf(const ControlEntry& entry, bool firstOfGroup) {
    constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
    switch (entry.kind) {
        case ControlKind::Button:
            return {L"BUTTON", kChild | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON};
        case ControlKind::Frame:
            return {L"BUTTON", kChild | WS_GROUP | BS_GROUPBOX};
        case ControlKind::OptionButton:
            return {L"BUTTON", kChild | BS_AUTORADIOBUTTON |
                                   (firstOfGroup ? WS_GROUP | WS_TABSTOP : DWORD{0})};
        case ControlKind::CheckBox:
            return {L"BUTTON", kChild | WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX};
        case ControlKind::Label:
            break;
    }
    DWORD style = kChild | WS_GROUP | SS_NOPREFIX;
    if (entry.align == TextAlign::Center) {
        style |= SS_CENTER;
    } else {
        style |= entry.wordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
    }
    if (entry.clickable) {
        style |= SS_NOTIFY;
    }
    return {L"STATIC", style};
}

}  // namespace

LayoutWindow::LayoutWindow(App& app, const WindowLayout& layout, LayoutEvents& events)
    : app_(app), layout_(layout), events_(events) {}

LayoutWindow::~LayoutWindow() {
    if (window_) {
        // Going away with the window still open: close it without calling back.
        notifyDestroyed_ = false;
        DestroyWindow(window_);
    }
}

SIZE LayoutWindow::WindowSize(UINT dpi) const {
    static const AdjustWindowRectExForDpiFn adjustForDpi =
        User32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
    RECT rect{0, 0, TwipsToPixels(layout_.clientWidth, dpi),
              TwipsToPixels(layout_.clientHeight, dpi)};
    if (!adjustForDpi || !adjustForDpi(&rect, kWindowStyle, FALSE, kWindowExStyle, dpi)) {
        AdjustWindowRectEx(&rect, kWindowStyle, FALSE, kWindowExStyle);
    }
    return {rect.right - rect.left, rect.bottom - rect.top};
}

bool LayoutWindow::Create(HWND owner) {
    if (window_ ||
        !RegisterWindowClass(app_.instance(), kLayoutWindowClass, &LayoutWindow::Procedure,
                             GetSysColorBrush(COLOR_BTNFACE))) {
        return false;
    }
    dpi_ = SystemDpi();
    const SIZE size = WindowSize(dpi_);
    const std::wstring caption = Widen(layout_.caption);
    CreateWindowExW(kWindowExStyle, kLayoutWindowClass, caption.c_str(), kWindowStyle,
                    CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, owner, nullptr, app_.instance(),
                    this);
    if (!window_) {
        return false;
    }
    if (!CreateControls()) {
        DestroyWindow(window_);
        return false;
    }
    ApplyDpi(WindowDpi(window_));
    CenterOn(owner);
    notifyDestroyed_ = true;
    return true;
}

bool LayoutWindow::CreateControls() {
    std::vector<const ControlEntry*> byTab;
    for (const ControlEntry& entry : layout_.controls) {
        byTab.push_back(&entry);
    }
    std::ranges::sort(byTab, {}, &ControlEntry::tab);

    controls_.reserve(byTab.size());
    std::vector<std::string_view> framesWithOption;
    HWND previous = HWND_TOP;
    for (const ControlEntry* entry : byTab) {
        const bool firstOfGroup =
            entry->kind == ControlKind::OptionButton &&
            std::ranges::find(framesWithOption, entry->frame) == framesWithOption.end();
        if (firstOfGroup) {
            framesWithOption.push_back(entry->frame);
        }
        const ClassAndStyle kind = StyleOf(*entry, firstOfGroup);
        const auto id = static_cast<INT_PTR>(kFirstControlId + (entry - layout_.controls.data()));
        const std::wstring caption = Widen(entry->caption);
        HWND child =
            CreateWindowExW(0, kind.className, caption.c_str(), kind.style, 0, 0, 0, 0, window_,
                            reinterpret_cast<HMENU>(id), app_.instance(), nullptr);
        if (!child) {
            return false;
        }
        // The z-order is the tab order that IsDialogMessage follows.
        SetWindowPos(child, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = child;
        if (entry->initiallySelected) {
            SendMessageW(child, BM_SETCHECK, BST_CHECKED, 0);
        }
        controls_.push_back({entry, child, {}});
    }
    for (const std::string_view frame : framesWithOption) {
        UpdateTabStops(frame);
    }
    return true;
}

void LayoutWindow::ApplyDpi(UINT dpi) {
    dpi_ = dpi;
    // The old fonts are deleted only once no control uses them any more.
    ScopedFont dialogFont = CreateDialogFont(dpi);
    std::vector<ScopedFont> retired;
    for (Control& control : controls_) {
        const TwipRect rect = layout_.WindowRect(*control.entry);
        HFONT font = dialogFont.get();
        if (!control.entry->font.IsDefault()) {
            retired.push_back(std::move(control.ownFont));
            control.ownFont = CreateControlFont(control.entry->font, dpi);
            font = control.ownFont ? control.ownFont.get() : font;
        }
        SendMessageW(control.window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        MoveWindow(control.window, TwipsToPixels(rect.left, dpi), TwipsToPixels(rect.top, dpi),
                   TwipsToPixels(rect.width, dpi), TwipsToPixels(rect.height, dpi), TRUE);
    }
    dialogFont_ = std::move(dialogFont);
}

void LayoutWindow::CenterOn(HWND owner) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    HWND placeBy = owner ? owner : window_;
    if (!GetMonitorInfoW(MonitorFromWindow(placeBy, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        return;
    }
    const SIZE size = WindowSize(dpi_);
    const RECT& work = monitor.rcWork;
    RECT around = work;
    if (owner && !GetWindowRect(owner, &around)) {
        around = work;
    }
    // Centred on the owner or the work area, then kept inside the work area so
    // that an owner near an edge cannot push the title bar off the screen.
    long x = around.left + (around.right - around.left - size.cx) / 2;
    long y = around.top + (around.bottom - around.top - size.cy) / 2;
    x = std::max(work.left, std::min(x, work.right - size.cx));
    y = std::max(work.top, std::min(y, work.bottom - size.cy));
    SetWindowPos(window_, nullptr, static_cast<int>(x), static_cast<int>(y), size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void LayoutWindow::Show() {
    if (!window_) {
        return;
    }
    if (IsIconic(window_)) {
        ShowWindow(window_, SW_RESTORE);
    } else {
        ShowWindow(window_, SW_SHOW);
    }
    SetForegroundWindow(window_);
}

LayoutWindow::Control* LayoutWindow::Find(std::string_view name) {
    const auto found =
        std::ranges::find(controls_, name, [](const Control& c) { return c.entry->name; });
    return found == controls_.end() ? nullptr : &*found;
}

const LayoutWindow::Control* LayoutWindow::Find(std::string_view name) const {
    return const_cast<LayoutWindow*>(this)->Find(name);
}

LayoutWindow::Control* LayoutWindow::FromWindow(HWND child) {
    const auto found = std::ranges::find(controls_, child, &Control::window);
    return found == controls_.end() ? nullptr : &*found;
}

bool LayoutWindow::IsChecked(std::string_view control) const {
    const Control* found = Find(control);
    return found && SendMessageW(found->window, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void LayoutWindow::SetChecked(std::string_view control, bool checked) {
    Control* found = Find(control);
    if (!found) {
        return;
    }
    const bool option = found->entry->kind == ControlKind::OptionButton;
    if (option && checked) {
        for (const Control& other : controls_) {
            if (other.entry->kind == ControlKind::OptionButton &&
                other.entry->frame == found->entry->frame && other.window != found->window) {
                SendMessageW(other.window, BM_SETCHECK, BST_UNCHECKED, 0);
            }
        }
    }
    SendMessageW(found->window, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (option) {
        UpdateTabStops(found->entry->frame);
    }
}

void LayoutWindow::UpdateTabStops(std::string_view frame) {
    std::vector<HWND> options;
    HWND selected = nullptr;
    for (const Control& control : controls_) {
        if (control.entry->kind == ControlKind::OptionButton && control.entry->frame == frame) {
            options.push_back(control.window);
            if (SendMessageW(control.window, BM_GETCHECK, 0, 0) == BST_CHECKED) {
                selected = control.window;
            }
        }
    }
    if (!selected && !options.empty()) {
        selected = options.front();
    }
    for (HWND option : options) {
        const LONG_PTR style = GetWindowLongPtrW(option, GWL_STYLE);
        const LONG_PTR wanted = option == selected ? style | WS_TABSTOP : style & ~WS_TABSTOP;
        if (wanted != style) {
            SetWindowLongPtrW(option, GWL_STYLE, wanted);
        }
    }
}

void LayoutWindow::SetCaption(std::string_view control, std::string_view caption) {
    if (const Control* found = Find(control)) {
        SetWindowTextW(found->window, Widen(caption).c_str());
    }
}

void LayoutWindow::Close() {
    // Posted, not done at once: the handler that asks is still running on
    // objects that the window's destruction frees.
    if (window_) {
        PostMessageW(window_, WM_CLOSE, 0, 0);
    }
}

void LayoutWindow::ShowMessage(std::string_view text) {
    const std::wstring caption = Widen(layout_.caption);
    MessageBoxW(window_, Widen(text).c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

LRESULT CALLBACK LayoutWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = WindowObject(window, message, lParam, &LayoutWindow::window_);
    if (!self) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        if (self->notifyDestroyed_) {
            self->events_.Destroyed();  // may delete self: touch nothing after it
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->Handle(message, wParam, lParam);
}

LRESULT LayoutWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            app_.AddDialog(window_);
            return 0;
        case WM_DESTROY:
            app_.RemoveDialog(window_);
            return 0;
        case WM_COMMAND:
            OnCommand(wParam, lParam);
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return OnControlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        case WM_SETCURSOR:
            if (OnSetCursor(reinterpret_cast<HWND>(wParam))) {
                return TRUE;
            }
            break;
        case WM_ACTIVATE:
            OnActivate(wParam);
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void LayoutWindow::OnCommand(WPARAM wParam, LPARAM lParam) {
    // BN_CLICKED and STN_CLICKED are both 0.
    if (HIWORD(wParam) != BN_CLICKED || lParam == 0) {
        return;
    }
    Control* control = FromWindow(reinterpret_cast<HWND>(lParam));
    if (!control || control->entry->kind == ControlKind::Frame) {
        return;
    }
    if (control->entry->kind == ControlKind::OptionButton) {
        UpdateTabStops(control->entry->frame);
    }
    events_.Clicked(control->entry->name);
}

LRESULT LayoutWindow::OnControlColor(HDC dc, HWND child) {
    const Control* control = FromWindow(child);
    const bool ownColor = control && control->entry->textColor;
    SetTextColor(dc, ownColor ? static_cast<COLORREF>(*control->entry->textColor)
                              : GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

bool LayoutWindow::OnSetCursor(HWND child) {
    const Control* control = FromWindow(child);
    if (!control || !control->entry->clickable) {
        return false;
    }
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return true;
}

void LayoutWindow::OnActivate(WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        lastFocus_ = focus && IsChild(window_, focus) ? focus : nullptr;
        return;
    }
    HWND target = lastFocus_ && IsWindow(lastFocus_) ? lastFocus_
                                                     : GetNextDlgTabItem(window_, nullptr, FALSE);
    if (target) {
        SetFocus(target);
    }
}

void LayoutWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
    ApplyDpi(dpi);
    const SIZE size = WindowSize(dpi);
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace quillomir::win32
