// Run mode's window: hosts frmMain on a borderless, black, top-most window over
// the primary screen, and turns Win32 messages into its events.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "app.h"
#include "control_fonts.h"
#include "cover_window.h"
#include "gdi_surface.h"
#include "memory_status.h"
#include "nt_counters.h"
#include "registry_store.h"
#include "saver/frm_main.h"
#include "saver/saver_host.h"

namespace quillomir::win32 {

inline constexpr wchar_t kSaverClass[] = L"QuillomirSaver";

class SaverWindow : public SaverHost, public CoverInput {
  public:
    explicit SaverWindow(App& app);
    ~SaverWindow() override;
    SaverWindow(const SaverWindow&) = delete;
    SaverWindow& operator=(const SaverWindow&) = delete;

    // Creates the window, runs the load sequence and shows it.
    bool Show();

    // SaverHost
    void SetLabelVisible(bool visible) override;
    void SetLabelCaption(std::string_view caption) override;
    void CoverScreen() override;
    std::int32_t MakeTopMost() override;
    int ShowPointer(bool show) override;
    std::int32_t SecondsSinceMidnight() override;
    void StartTimer(SaverTimer timer, std::uint32_t intervalMs) override;
    void Close() override;
    void FatalMessage(std::string_view text) override;

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate();
    void OnDestroy();
    void OnPaint();
    void PlaceLabel();
    POINT ToTwips(POINT client) const;
    POINT ScreenToTwips(POINT screen) const;

    // CoverInput: the other monitors' windows report here.
    void CoverKeyDown() override;
    void CoverMouseDown(POINT screen) override;
    void CoverMouseMove(POINT screen) override;

    App& app_;
    HWND window_ = nullptr;
    HWND label_ = nullptr;
    GdiSurface surface_;
    RegistryStore settings_;
    NtCounterSource counters_;
    GlobalMemorySource memory_;
    frmMain form_;
    std::vector<std::unique_ptr<CoverWindow>> covers_;
    ScopedBrush labelBackground_{CreateSolidBrush(RGB(0, 0, 0))};
    // The message font at the window's own DPI, like the dialogs' controls: the
    // stock GUI font follows the system DPI, not the monitor the label is on.
    DpiDialogFont labelFont_;
};

}  // namespace quillomir::win32
