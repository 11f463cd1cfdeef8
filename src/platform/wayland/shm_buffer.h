// One wl_shm buffer on a memory file of its own, in XRGB8888 (where a pixel of
// zero is black) or ARGB8888 (where it is transparent): a fresh buffer is
// black, or clear, without a byte written, and black pages given back cost
// nothing. A buffer is busy from the commit that shows
// it until the compositor releases it; only then may it be drawn on again.
#pragma once

#include <wayland-client.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "frame_buffer.h"
#include "wl_object.h"

namespace quillomir::wayland {

class ShmBuffer : public FrameBuffer {
  public:
    // Empty with a message in `error` when the memory or the buffer cannot be
    // made. `mapped`: whether this process draws on it (a plain cover never does).
    static std::unique_ptr<ShmBuffer> Create(wl_shm* shm, int width, int height, bool mapped,
                                             std::string& error,
                                             wl_shm_format format = WL_SHM_FORMAT_XRGB8888);
    ~ShmBuffer() override;
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;

    wl_buffer* buffer() const override { return buffer_.get(); }
    std::uint32_t* pixels() const override { return pixels_; }
    int width() const override { return width_; }
    int height() const override { return height_; }

    bool busy() const override { return busy_; }
    void MarkBusy() override { busy_ = true; }
    void GiveBack(std::size_t offset, std::size_t length) override;

  private:
    ShmBuffer() = default;
    static void OnRelease(void* data, wl_buffer* buffer);

    int fd_ = -1;
    std::size_t size_ = 0;
    std::uint32_t* pixels_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    bool busy_ = false;
    WlObject<wl_buffer> buffer_;
};

}  // namespace quillomir::wayland
