// What the saver window's behaviour needs from the window that hosts it.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillomir {

enum class SaverTimer { Timer1, Timer2 };

class SaverHost {
  public:
    virtual ~SaverHost() = default;

    virtual void SetLabelVisible(bool visible) = 0;
    virtual void SetLabelCaption(std::string_view caption) = 0;
    // Maximizes the window and places it over the whole primary screen.
    virtual void CoverScreen() = 0;
    // Makes the window top-most; the z-order call's result (non-zero on success).
    virtual std::int32_t MakeTopMost() = 0;
    // One ShowCursor call; returns the pointer's display count after it.
    virtual int ShowPointer(bool show) = 0;
    virtual std::int32_t SecondsSinceMidnight() = 0;
    virtual void StartTimer(SaverTimer timer, std::uint32_t intervalMs) = 0;
    // Asks the window to close; the host then delivers frmMain::Unload.
    virtual void Close() = 0;
    // Shows the fatal message and ends the program at once, without Unload.
    virtual void FatalMessage(std::string_view text) = 0;
};

}  // namespace quillomir
