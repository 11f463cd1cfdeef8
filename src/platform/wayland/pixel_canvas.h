// Drawing on the pixels of one shared-memory buffer (XRGB8888, rows packed,
// zero is black), so that each frame costs what changed and no more: every
// operation answers the box of the pixels it changed, and a count of the
// non-black pixels in each 16x16 tile lets black drawn over black skip the
// memory altogether. The canvas counts the pages it has brought into memory;
// those that have turned all black again can be given back, so that a buffer
// need not hold memory where nothing is shown. No Wayland here: the rules are
// tested on plain memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillomir::wayland {

struct PixelBox {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool empty() const { return width <= 0 || height <= 0; }
    int right() const { return x + width; }
    int bottom() const { return y + height; }
    // The smallest box that holds both; an empty box adds nothing.
    PixelBox Union(const PixelBox& other) const;
    PixelBox Intersect(const PixelBox& other) const;

    friend bool operator==(const PixelBox&, const PixelBox&) = default;
};

struct ByteRange {
    std::size_t offset = 0;
    std::size_t length = 0;

    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

class PixelCanvas {
  public:
    static constexpr int kTile = 16;            // pixels on a side of a tile
    static constexpr std::size_t kPage = 4096;  // the unit memory is given back in

    // `pixels`: width x height pixels, stride width * 4, starting on a page.
    PixelCanvas(std::uint32_t* pixels, int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    PixelBox bounds() const { return {0, 0, width_, height_}; }
    std::uint32_t At(int x, int y) const { return pixels_[Index(x, y)]; }

    // A disc around (cx, cy) in pixels: the pixels whose centres lie within
    // `radius`, those within one pixel of its edge in `outline`, the rest in
    // `fill`. The same arguments always cover the same pixels.
    PixelBox Disc(double cx, double cy, double radius, std::uint32_t fill, std::uint32_t outline);
    PixelBox Fill(PixelBox box, std::uint32_t color);
    // `color` scaled by a coverage mask (one byte a pixel, 255 = full colour,
    // 0 = black) over `box`; the mask's row i starts at mask + i * maskStride.
    PixelBox Shade(PixelBox box, const std::uint8_t* mask, int maskStride, std::uint32_t color);
    // Makes `box` equal to the same box of `source`, a canvas of the same size.
    void CopyFrom(const PixelCanvas& source, PixelBox box);

    // Pages of the pixel memory read or written since they were last given back.
    std::size_t residentPages() const { return residentCount_; }
    // The runs of pages whose pixels are all black now, each holding a page in
    // memory: their memory can be given back (and reads as zeros, black, after).
    std::vector<ByteRange> TakeBlackPages();

  private:
    std::size_t Index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(x);
    }
    std::size_t TileOf(int x, int y) const {
        return static_cast<std::size_t>(y / kTile) * static_cast<std::size_t>(tilesX_) +
               static_cast<std::size_t>(x / kTile);
    }
    bool InkIn(PixelBox box) const;
    // Writes one pixel when it differs; true when it did.
    bool Put(int x, int y, std::uint32_t color);
    void Touch(PixelBox box);
    bool PageIsBlack(std::size_t page, const std::vector<std::uint8_t>& rowInk) const;

    std::uint32_t* pixels_;
    int width_;
    int height_;
    int tilesX_;
    int tilesY_;
    std::vector<std::uint16_t> ink_;      // per tile: how many of its pixels are not black
    std::vector<std::uint8_t> resident_;  // per page: touched since last given back
    std::size_t residentCount_ = 0;
};

}  // namespace quillomir::wayland
