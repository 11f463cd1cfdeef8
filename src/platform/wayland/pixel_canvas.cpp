#include "pixel_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillomir::wayland {

PixelBox PixelBox::Union(const PixelBox& other) const {
    if (other.empty()) {
        return *this;
    }
    if (empty()) {
        return other;
    }
    const int left = std::min(x, other.x);
    const int top = std::min(y, other.y);
    return {left, top, std::max(right(), other.right()) - left,
            std::max(bottom(), other.bottom()) - top};
}

PixelBox PixelBox::Intersect(const PixelBox& other) const {
    const int left = std::max(x, other.x);
    const int top = std::max(y, other.y);
    const int w = std::min(right(), other.right()) - left;
    const int h = std::min(bottom(), other.bottom()) - top;
    if (w <= 0 || h <= 0) {
        return {};
    }
    return {left, top, w, h};
}

PixelCanvas::PixelCanvas(std::uint32_t* pixels, int width, int height)
    : pixels_(pixels),
      width_(width),
      height_(height),
      tilesX_((width + kTile - 1) / kTile),
      tilesY_((height + kTile - 1) / kTile),
      ink_(static_cast<std::size_t>(tilesX_) * static_cast<std::size_t>(tilesY_), 0),
      resident_(
          (static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4 + kPage - 1) /
              kPage,
          0) {}

bool PixelCanvas::InkIn(PixelBox box) const {
    box = box.Intersect(bounds());
    for (int ty = box.y / kTile; !box.empty() && ty <= (box.bottom() - 1) / kTile; ++ty) {
        for (int tx = box.x / kTile; tx <= (box.right() - 1) / kTile; ++tx) {
            if (ink_[TileOf(tx * kTile, ty * kTile)] != 0) {
                return true;
            }
        }
    }
    return false;
}

void PixelCanvas::Touch(PixelBox box) {
    const auto bytes = static_cast<std::size_t>(width_) * 4;
    for (int y = box.y; y < box.bottom(); ++y) {
        const std::size_t first =
            (static_cast<std::size_t>(y) * bytes + static_cast<std::size_t>(box.x) * 4) / kPage;
        const std::size_t last =
            (static_cast<std::size_t>(y) * bytes + static_cast<std::size_t>(box.right()) * 4 - 1) /
            kPage;
        for (std::size_t page = first; page <= last; ++page) {
            if (resident_[page] == 0) {
                resident_[page] = 1;
                ++residentCount_;
            }
        }
    }
}

bool PixelCanvas::Put(int x, int y, std::uint32_t color) {
    std::uint32_t& pixel = pixels_[Index(x, y)];
    if (pixel == color) {
        return false;
    }
    // The tile's count of non-black pixels stays exact, so no tile is ever
    // read again to learn whether it turned black.
    if (pixel == 0) {
        ++ink_[TileOf(x, y)];
    } else if (color == 0) {
        --ink_[TileOf(x, y)];
    }
    pixel = color;
    return true;
}

PixelBox PixelCanvas::Disc(double cx, double cy, double radius, std::uint32_t fill,
                           std::uint32_t outline) {
    if (!(radius > 0)) {
        return {};
    }
    // The pixels whose centres can lie within the radius.
    const int left = static_cast<int>(std::ceil(cx - radius - 0.5));
    const int top = static_cast<int>(std::ceil(cy - radius - 0.5));
    const PixelBox box =
        PixelBox{left, top, static_cast<int>(std::floor(cx + radius - 0.5)) - left + 1,
                 static_cast<int>(std::floor(cy + radius - 0.5)) - top + 1}
            .Intersect(bounds());
    if (box.empty() || (fill == 0 && outline == 0 && !InkIn(box))) {
        return {};  // black on black: nothing to change, nothing to read
    }
    Touch(box);
    // Row by row, the span of pixel centres within the radius, and within it
    // the span inside the rim.
    const auto span = [cx](double half, int& from, int& to) {
        from = static_cast<int>(std::ceil(cx - half - 0.5));
        to = static_cast<int>(std::floor(cx + half - 0.5));
    };
    const double inner = std::max(0.0, radius - 1);
    int minX = box.right(), minY = box.bottom(), maxX = box.x - 1, maxY = box.y - 1;
    for (int y = box.y; y < box.bottom(); ++y) {
        const double dy = y + 0.5 - cy;
        const double outerSquare = radius * radius - dy * dy;
        if (outerSquare < 0) {
            continue;
        }
        int from = 0, to = 0, innerFrom = 0, innerTo = -1;
        span(std::sqrt(outerSquare), from, to);
        if (const double innerSquare = inner * inner - dy * dy; innerSquare > 0) {
            span(std::sqrt(innerSquare), innerFrom, innerTo);
        }
        from = std::max(from, box.x);
        to = std::min(to, box.right() - 1);
        for (int x = from; x <= to; ++x) {
            if (Put(x, y, x >= innerFrom && x <= innerTo ? fill : outline)) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
    }
    if (maxX < minX) {
        return {};
    }
    return {minX, minY, maxX - minX + 1, maxY - minY + 1};
}

PixelBox PixelCanvas::Fill(PixelBox box, std::uint32_t color) {
    box = box.Intersect(bounds());
    if (box.empty() || (color == 0 && !InkIn(box))) {
        return {};
    }
    Touch(box);
    PixelBox changed;
    for (int y = box.y; y < box.bottom(); ++y) {
        for (int x = box.x; x < box.right(); ++x) {
            if (Put(x, y, color)) {
                changed = changed.Union({x, y, 1, 1});
            }
        }
    }
    return changed;
}

PixelBox PixelCanvas::Shade(PixelBox box, const std::uint8_t* mask, int maskStride,
                            std::uint32_t color) {
    const PixelBox clipped = box.Intersect(bounds());
    if (clipped.empty()) {
        return {};
    }
    Touch(clipped);
    const auto scaled = [](std::uint32_t channel, unsigned coverage) {
        return (channel * coverage + 127) / 255;
    };
    PixelBox changed;
    for (int y = clipped.y; y < clipped.bottom(); ++y) {
        const std::uint8_t* row = mask + static_cast<std::ptrdiff_t>(y - box.y) * maskStride;
        for (int x = clipped.x; x < clipped.right(); ++x) {
            const unsigned coverage = row[x - box.x];
            const std::uint32_t shade = scaled((color >> 16) & 0xFF, coverage) << 16 |
                                        scaled((color >> 8) & 0xFF, coverage) << 8 |
                                        scaled(color & 0xFF, coverage);
            if (Put(x, y, shade)) {
                changed = changed.Union({x, y, 1, 1});
            }
        }
    }
    return changed;
}

void PixelCanvas::CopyFrom(const PixelCanvas& source, PixelBox box) {
    box = box.Intersect(bounds()).Intersect(source.bounds());
    for (int ty = box.y / kTile; !box.empty() && ty <= (box.bottom() - 1) / kTile; ++ty) {
        for (int tx = box.x / kTile; tx <= (box.right() - 1) / kTile; ++tx) {
            const std::size_t tile = TileOf(tx * kTile, ty * kTile);
            const bool sourceInk = source.ink_[tile] != 0;
            if (!sourceInk && ink_[tile] == 0) {
                continue;  // black in both: no memory read or written
            }
            const PixelBox part = PixelBox{tx * kTile, ty * kTile, kTile, kTile}.Intersect(box);
            Touch(part);
            for (int y = part.y; y < part.bottom(); ++y) {
                const std::uint32_t* from = source.pixels_ + source.Index(part.x, y);
                for (int x = part.x; x < part.right(); ++x, ++from) {
                    Put(x, y, sourceInk ? *from : 0);
                }
            }
        }
    }
}

bool PixelCanvas::PageIsBlack(std::size_t page, const std::vector<std::uint8_t>& rowInk) const {
    const auto first = page * (kPage / 4);
    const auto end = std::min(first + kPage / 4,
                              static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_));
    const auto w = static_cast<std::size_t>(width_);
    for (std::size_t at = first; at < end;) {
        const auto y = static_cast<int>(at / w);
        const auto rowEnd = std::min(end, (at / w + 1) * w);
        if (rowInk[static_cast<std::size_t>(y / kTile)] != 0 &&
            InkIn({static_cast<int>(at % w), y, static_cast<int>(rowEnd - at), 1})) {
            return false;
        }
        at = rowEnd;
    }
    return true;
}

std::vector<ByteRange> PixelCanvas::TakeBlackPages() {
    // Which rows of tiles hold anything at all: most pages are answered there.
    std::vector<std::uint8_t> rowInk(static_cast<std::size_t>(tilesY_), 0);
    for (std::size_t tile = 0; tile < ink_.size(); ++tile) {
        if (ink_[tile] != 0) {
            rowInk[tile / static_cast<std::size_t>(tilesX_)] = 1;
        }
    }
    // Whole runs of black pages, whether in memory or not, so that a few
    // calls give everything back; a run counts only if it holds a page that
    // is in memory.
    std::vector<ByteRange> ranges;
    std::size_t runStart = 0;
    bool inRun = false, runResident = false;
    const auto close = [&](std::size_t end) {
        if (inRun && runResident) {
            ranges.push_back({runStart * kPage, (end - runStart) * kPage});
        }
        inRun = runResident = false;
    };
    for (std::size_t page = 0; page < resident_.size(); ++page) {
        if (!PageIsBlack(page, rowInk)) {
            close(page);
            continue;
        }
        if (!inRun) {
            inRun = true;
            runStart = page;
        }
        if (resident_[page] != 0) {
            resident_[page] = 0;
            --residentCount_;
            runResident = true;
        }
    }
    close(resident_.size());
    return ranges;
}

}  // namespace quillomir::wayland
