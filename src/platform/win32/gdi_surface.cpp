#include "gdi_surface.h"

#include <algorithm>
#include <cmath>

#include "dpi.h"

namespace quillomir::win32 {

void GdiSurface::Attach(HWND window) {
    window_ = window;
    dc_ = GetDC(window);  // a class DC: it is not released while the window lives
    dpi_ = WindowDpi(window);
}

HBRUSH GdiSurface::BrushFor(ColorValue color) {
    return Lookup(brushes_, color, [](COLORREF c) { return CreateSolidBrush(c); });
}

HPEN GdiSurface::PenFor(ColorValue color) {
    return Lookup(pens_, color, [](COLORREF c) { return CreatePen(PS_SOLID, 1, c); });
}

void GdiSurface::SetFillColor(ColorValue color) {
    fill_ = color;
}

void GdiSurface::DrawCircle(float x, float y, float radius, ColorValue outline) {
    if (!dc_) {
        return;
    }
    const float scale = static_cast<float>(dpi_) / static_cast<float>(kTwipsPerInch);
    const float cx = x * scale;
    const float cy = y * scale;
    const float r = radius * scale;
    // GDI leaves out the right and bottom edges, hence the +1.
    const RECT box{static_cast<LONG>(std::lround(cx - r)), static_cast<LONG>(std::lround(cy - r)),
                   static_cast<LONG>(std::lround(cx + r)) + 1,
                   static_cast<LONG>(std::lround(cy + r)) + 1};

    const bool erasing = ToColorRef(fill_) == 0 && ToColorRef(outline) == 0;
    if (erasing) {
        const bool meetsLit = std::any_of(lit_.begin(), lit_.end(), [&](const RECT& lit) {
            RECT common{};
            return IntersectRect(&common, &lit, &box) != FALSE;
        });
        if (!meetsLit) {
            return;
        }
        // The same circle in black covers exactly what the coloured one lit.
        std::erase_if(lit_, [&](const RECT& lit) { return EqualRect(&lit, &box) != FALSE; });
    } else if (std::none_of(lit_.begin(), lit_.end(),
                            [&](const RECT& lit) { return EqualRect(&lit, &box) != FALSE; })) {
        lit_.push_back(box);
    }

    ScopedSelect brush(dc_, BrushFor(fill_));
    ScopedSelect pen(dc_, PenFor(outline));
    Ellipse(dc_, box.left, box.top, box.right, box.bottom);
    GdiFlush();
}

SIZE GdiSurface::ClientSize() const {
    RECT client{};
    if (!window_ || !GetClientRect(window_, &client)) {
        return {0, 0};
    }
    return {client.right - client.left, client.bottom - client.top};
}

float GdiSurface::ScaleWidth() const {
    return PixelsToTwips(static_cast<float>(ClientSize().cx), dpi_);
}

float GdiSurface::ScaleHeight() const {
    return PixelsToTwips(static_cast<float>(ClientSize().cy), dpi_);
}

}  // namespace quillomir::win32
