// What the crawlet's surface draws its frames on: a buffer of XRGB8888
// pixels (rows packed, zero is black) that the compositor holds from the
// commit that shows it until it releases it. ShmBuffer is the real one; the
// tests use plain memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct wl_buffer;

namespace quillomir::wayland {

class FrameBuffer {
  public:
    virtual ~FrameBuffer() = default;

    virtual wl_buffer* buffer() const = 0;
    virtual std::uint32_t* pixels() const = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
    int stride() const { return width() * 4; }

    virtual bool busy() const = 0;
    // Called as the buffer is attached and committed.
    virtual void MarkBusy() = 0;
    // Gives the memory of a byte range back; it reads as zeros (black) after.
    // Only on a buffer that is not busy, and only over pixels that are black.
    virtual void GiveBack(std::size_t offset, std::size_t length) = 0;
};

// Makes a black buffer of width x height pixels; empty with a message in `error`.
using FrameBufferMaker =
    std::function<std::unique_ptr<FrameBuffer>(int width, int height, std::string& error)>;

}  // namespace quillomir::wayland
