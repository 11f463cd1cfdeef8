#include "x_surface.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quillomir::x11 {

XSurface::XSurface(Display* display, Window window, double dpi, PixelRect area)
    : display_(display),
      window_(window),
      dpi_(dpi),
      area_(area),
      gc_(display, XCreateGC(display, window, 0, nullptr)) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) != 0 && attributes.visual != nullptr) {
        colormap_ = attributes.colormap;
        const int visualClass = attributes.visual->c_class;
        kind_ = visualClass == TrueColor     ? Kind::kTrueColor
                : visualClass == DirectColor ? Kind::kDirectColor
                                             : Kind::kPalette;
        mapSize_ = attributes.visual->map_entries;
        masks_ = {attributes.visual->red_mask, attributes.visual->green_mask,
                  attributes.visual->blue_mask};
    }
    SetArea(area);
}

void XSurface::SetArea(PixelRect area) {
    area_ = area;
    XRectangle clip{0, 0, static_cast<unsigned short>(area.width),
                    static_cast<unsigned short>(area.height)};
    XSetClipRectangles(display_, gc_.get(), area.x, area.y, &clip, 1, Unsorted);
}

unsigned long XSurface::PixelFor(ColorValue color) {
    if (kind_ == Kind::kTrueColor) {
        return PixelOf(color, masks_);
    }
    if (const auto found = allocated_.find(color); found != allocated_.end()) {
        return found->second;
    }
    const auto bits = static_cast<std::uint32_t>(color);
    XColor wanted{};
    wanted.red = static_cast<unsigned short>((bits & 0xFF) * 257);
    wanted.green = static_cast<unsigned short>(((bits >> 8) & 0xFF) * 257);
    wanted.blue = static_cast<unsigned short>(((bits >> 16) & 0xFF) * 257);
    const unsigned long pixel = colormap_ != 0 && XAllocColor(display_, colormap_, &wanted) != 0
                                    ? wanted.pixel
                                    : AllocateNearest(color);
    allocated_.emplace(color, pixel);
    return pixel;
}

unsigned long XSurface::AllocateNearest(ColorValue color) {
    const int screen = DefaultScreen(display_);
    // A full palette: the nearest cell it has. For DirectColor, cell i of the
    // query holds level i of every channel.
    std::vector<XColor> cells(static_cast<std::size_t>(std::max(mapSize_, 0)));
    for (std::size_t i = 0; i < cells.size(); ++i) {
        cells[i].pixel = kind_ == Kind::kDirectColor ? RampPixel(i, masks_) : i;
    }
    if (colormap_ != 0 && !cells.empty()) {
        XQueryColors(display_, colormap_, cells.data(), static_cast<int>(cells.size()));
    }
    std::vector<PaletteEntry> entries;
    entries.reserve(cells.size());
    for (const XColor& cell : cells) {
        entries.push_back({cell.pixel, cell.red, cell.green, cell.blue});
    }
    const auto nearest = kind_ == Kind::kDirectColor ? NearestDirectPixel(color, entries, masks_)
                                                     : NearestCell(color, entries);
    if (nearest) {
        return *nearest;
    }
    return color == kBlack ? BlackPixel(display_, screen) : WhitePixel(display_, screen);
}

int XSurface::ToPixels(double twips) const {
    return static_cast<int>(std::lrint(twips * dpi_ / kTwipsPerInch));
}

std::int32_t XSurface::ToTwipsX(int windowX) const {
    return static_cast<std::int32_t>(std::lrint((windowX - area_.x) * kTwipsPerInch / dpi_));
}

std::int32_t XSurface::ToTwipsY(int windowY) const {
    return static_cast<std::int32_t>(std::lrint((windowY - area_.y) * kTwipsPerInch / dpi_));
}

void XSurface::DrawCircle(float x, float y, float radius, ColorValue outline) {
    const int left = area_.x + ToPixels(static_cast<double>(x) - radius);
    const int top = area_.y + ToPixels(static_cast<double>(y) - radius);
    const int right = area_.x + ToPixels(static_cast<double>(x) + radius);
    const int bottom = area_.y + ToPixels(static_cast<double>(y) + radius);
    if (right <= left || bottom <= top) {
        return;
    }
    const auto width = static_cast<unsigned>(right - left);
    const auto height = static_cast<unsigned>(bottom - top);
    XSetForeground(display_, gc_.get(), PixelFor(fill_));
    XFillArc(display_, window_, gc_.get(), left, top, width, height, 0, 360 * 64);
    // The outline always, even in the fill's colour: a black disc must cover
    // exactly the pixels that the coloured one lit.
    XSetForeground(display_, gc_.get(), PixelFor(outline));
    XDrawArc(display_, window_, gc_.get(), left, top, width - 1, height - 1, 0, 360 * 64);
}

float XSurface::ScaleWidth() const {
    return static_cast<float>(area_.width * kTwipsPerInch / dpi_);
}

float XSurface::ScaleHeight() const {
    return static_cast<float>(area_.height * kTwipsPerInch / dpi_);
}

}  // namespace quillomir::x11
