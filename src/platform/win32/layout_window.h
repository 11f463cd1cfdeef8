// A top-level window whose child controls are rendered from a layout table, in
// pixels for the display's DPI, with dialog keyboard navigation.
#pragma once

#include <windows.h>

#include <string_view>
#include <vector>

#include "app.h"
#include "scoped_win.h"
#include "settings/config_layout.h"
#include "settings/dialog_host.h"

namespace quillomir::win32 {

inline constexpr wchar_t kLayoutWindowClass[] = L"QuillomirLayoutWindow";

class LayoutEvents {
  public:
    virtual ~LayoutEvents() = default;

    // A button, option, check box or clickable label was clicked.
    virtual void Clicked(std::string_view control) = 0;
    // The window is gone. This is the last call the window makes, and the
    // receiver may delete the LayoutWindow in it.
    virtual void Destroyed() = 0;
};

class LayoutWindow : public DialogHost {
  public:
    LayoutWindow(App& app, const WindowLayout& layout, LayoutEvents& events);
    ~LayoutWindow() override;
    LayoutWindow(const LayoutWindow&) = delete;
    LayoutWindow& operator=(const LayoutWindow&) = delete;

    // Creates the window and its controls, hidden; false when Windows refused.
    // With an owner, the window stays above it and opens centred on it;
    // without one, it opens centred on the screen.
    bool Create(HWND owner = nullptr);
    // Shows the window, or brings it back to the front when it is open already.
    void Show();

    // DialogHost
    bool IsChecked(std::string_view control) const override;
    void SetChecked(std::string_view control, bool checked) override;
    void SetCaption(std::string_view control, std::string_view caption) override;
    void Close() override;
    void ShowMessage(std::string_view text) override;

  private:
    struct Control {
        const ControlEntry* entry;
        HWND window;
        ScopedFont ownFont;
    };

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool CreateControls();
    void ApplyDpi(UINT dpi);
    SIZE WindowSize(UINT dpi) const;
    void CenterOn(HWND owner);
    Control* Find(std::string_view name);
    const Control* Find(std::string_view name) const;
    Control* FromWindow(HWND child);
    // Only the selected option of a frame is a tab stop, so Tab lands on it.
    void UpdateTabStops(std::string_view frame);
    void OnCommand(WPARAM wParam, LPARAM lParam);
    LRESULT OnControlColor(HDC dc, HWND child);
    bool OnSetCursor(HWND child);
    void OnActivate(WPARAM wParam);
    void OnDpiChanged(UINT dpi, const RECT& suggested);

    App& app_;
    const WindowLayout& layout_;
    LayoutEvents& events_;
    HWND window_ = nullptr;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    ScopedFont dialogFont_;
    std::vector<Control> controls_;
    HWND lastFocus_ = nullptr;
    bool notifyDestroyed_ = false;
};

}  // namespace quillomir::win32
