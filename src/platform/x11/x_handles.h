// Owners for the X resources the saver holds: each frees its resource when it
// goes out of scope, while the display is still open.
#pragma once

#include <X11/Xlib.h>

#include <utility>

namespace quillomir::x11 {

class DisplayHandle {
  public:
    explicit DisplayHandle(Display* display) : display_(display) {}
    ~DisplayHandle() {
        if (display_ != nullptr) {
            XCloseDisplay(display_);
        }
    }
    DisplayHandle(const DisplayHandle&) = delete;
    DisplayHandle& operator=(const DisplayHandle&) = delete;
    Display* get() const { return display_; }

  private:
    Display* display_;
};

// Any X resource freed by one call taking the display and the id.
template <typename Id, auto Free>
class XResource {
  public:
    XResource() = default;
    XResource(Display* display, Id id) : display_(display), id_(id) {}
    ~XResource() { Reset(); }
    XResource(const XResource&) = delete;
    XResource& operator=(const XResource&) = delete;
    XResource(XResource&& other) noexcept
        : display_(other.display_), id_(std::exchange(other.id_, Id{})) {}
    XResource& operator=(XResource&& other) noexcept {
        if (this != &other) {
            Reset();
            display_ = other.display_;
            id_ = std::exchange(other.id_, Id{});
        }
        return *this;
    }
    Id get() const { return id_; }
    explicit operator bool() const { return id_ != Id{}; }

  private:
    void Reset() {
        if (id_ != Id{}) {
            Free(display_, id_);
            id_ = Id{};
        }
    }
    Display* display_ = nullptr;
    Id id_{};
};

inline void FreeWindow(Display* d, Window w) {
    XDestroyWindow(d, w);
}
inline void FreeGc(Display* d, GC gc) {
    XFreeGC(d, gc);
}
inline void FreeCursor(Display* d, Cursor c) {
    XFreeCursor(d, c);
}
inline void FreeFont(Display* d, XFontStruct* f) {
    XFreeFont(d, f);
}

using WindowHandle = XResource<Window, FreeWindow>;
using GcHandle = XResource<GC, FreeGc>;
using CursorHandle = XResource<Cursor, FreeCursor>;
using FontHandle = XResource<XFontStruct*, FreeFont>;

}  // namespace quillomir::x11
