// The crawlet's drawing surface on an X window: twips to pixels by the
// screen's DPI, colours to the window's visual, discs with XFillArc.
#pragma once

#include <X11/Xlib.h>

#include <map>

#include "crawlet/drawing_surface.h"
#include "screen_metrics.h"
#include "x_handles.h"

namespace quillomir::x11 {

class XSurface : public DrawingSurface {
  public:
    // `area` is the part of the window, in pixels, that the core sees as its
    // client area; drawing is clipped to it.
    XSurface(Display* display, Window window, double dpi, PixelRect area);

    void SetArea(PixelRect area);
    const PixelRect& area() const { return area_; }
    double dpi() const { return dpi_; }

    void SetFillColor(ColorValue color) override { fill_ = color; }
    void DrawCircle(float x, float y, float radius, ColorValue outline) override;
    float ScaleWidth() const override;
    float ScaleHeight() const override;

    // Pixels of the area to twips, and twips to pixels of the window.
    std::int32_t ToTwipsX(int windowX) const;
    std::int32_t ToTwipsY(int windowY) const;
    int ToPixels(double twips) const;

    unsigned long PixelFor(ColorValue color);
    GC gc() const { return gc_.get(); }

  private:
    Display* display_;
    Window window_;
    double dpi_;
    PixelRect area_;
    GcHandle gc_;
    unsigned long AllocateNearest(ColorValue color);

    // How a colour becomes a pixel: computed from the masks, or allocated in
    // the colormap (whose cells a DirectColor visual indexes per channel).
    enum class Kind { kTrueColor, kDirectColor, kPalette };

    Colormap colormap_ = 0;
    Kind kind_ = Kind::kPalette;
    int mapSize_ = 0;
    ChannelMasks masks_;
    std::map<ColorValue, unsigned long> allocated_;  // for visuals with a palette
    ColorValue fill_ = kBlack;
};

}  // namespace quillomir::x11
