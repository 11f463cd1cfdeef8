// The saver window's client area as a DrawingSurface: circles go straight to
// the screen through GDI, with no backing bitmap.
#pragma once

#include <windows.h>

#include <vector>

#include "crawlet/drawing_surface.h"
#include "scoped_win.h"

namespace quillomir::win32 {

class GdiSurface : public DrawingSurface {
  public:
    GdiSurface() = default;

    // The window must have a class DC (CS_OWNDC), so that one DC serves for its life.
    void Attach(HWND window);
    void SetDpi(UINT dpi) { dpi_ = dpi; }
    UINT dpi() const { return dpi_; }

    // The whole client area was painted black: nothing drawn is lit any more.
    void ForgetDrawn() { lit_.clear(); }

    void SetFillColor(ColorValue color) override;
    void DrawCircle(float x, float y, float radius, ColorValue outline) override;
    float ScaleWidth() const override;
    float ScaleHeight() const override;

  private:
    template <typename Handle>
    struct Cached {
        ColorValue color;
        ScopedGdiObject<Handle> handle;
    };

    // The cached object for the colour, made (and the oldest dropped) on a miss.
    template <typename Handle, typename Make>
    static Handle Lookup(std::vector<Cached<Handle>>& cache, ColorValue color, Make make) {
        for (auto& slot : cache) {
            if (slot.color == color) {
                return slot.handle.get();
            }
        }
        if (cache.size() >= kCacheSlots) {
            cache.erase(cache.begin());
        }
        cache.push_back({color, ScopedGdiObject<Handle>(make(ToColorRef(color)))});
        return cache.back().handle.get();
    }

    HBRUSH BrushFor(ColorValue color);
    HPEN PenFor(ColorValue color);
    SIZE ClientSize() const;

    static constexpr std::size_t kCacheSlots = 4;
    // The colour value is 0x00BBGGRR already; only the top byte must be clear.
    static COLORREF ToColorRef(ColorValue color) {
        return static_cast<COLORREF>(color) & 0x00FFFFFFu;
    }

    HWND window_ = nullptr;
    HDC dc_ = nullptr;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    ColorValue fill_ = kBlack;
    // Two colours are in use at a time (black and the crawlet's); a few slots
    // keep a tick from creating GDI objects at all.
    std::vector<Cached<HBRUSH>> brushes_;
    std::vector<Cached<HPEN>> pens_;
    // The pixel boxes of the coloured discs on screen. A black disc that meets
    // none of them could change no pixel, and is not sent to the screen: most
    // of the tail erase lands on black, often far from the head, and presenting
    // it would cost in proportion to the screen's area.
    std::vector<RECT> lit_;
};

}  // namespace quillomir::win32
