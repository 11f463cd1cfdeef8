// One saver at a time: Windows may start a second run while one is on screen.
#pragma once

#include <windows.h>

#include "scoped_win.h"

namespace quillomir::win32 {

class SingleInstance {
  public:
    // Takes the named mutex; `first()` tells whether no other holder existed.
    explicit SingleInstance(const wchar_t* name)
        : mutex_(CreateMutexW(nullptr, FALSE, name)),
          first_(mutex_.get() != nullptr && GetLastError() != ERROR_ALREADY_EXISTS) {}

    // A mutex that could not be made at all does not stop the saver: better two
    // savers than none.
    bool first() const { return first_ || mutex_.get() == nullptr; }

  private:
    ScopedHandle mutex_;
    bool first_;
};

// Per session: a saver on another user's desktop is no concern of this one.
inline constexpr wchar_t kSaverMutexName[] = L"Local\\Quillomir.Saver.Run";

}  // namespace quillomir::win32
