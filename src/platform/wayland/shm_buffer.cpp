#include "shm_buffer.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quillomir::wayland {

std::unique_ptr<ShmBuffer> ShmBuffer::Create(wl_shm* shm, int width, int height, bool mapped,
                                             std::string& error, wl_shm_format format) {
    std::unique_ptr<ShmBuffer> made(new ShmBuffer());
    made->width_ = width;
    made->height_ = height;
    made->size_ = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    if (width <= 0 || height <= 0 || made->size_ > 0x7fffffffu) {
        error = "a buffer of " + std::to_string(width) + "x" + std::to_string(height) +
                " pixels is beyond what wl_shm can share";
        return nullptr;
    }
    made->fd_ = memfd_create("quillomir", MFD_CLOEXEC);
    if (made->fd_ < 0 || ftruncate(made->fd_, static_cast<off_t>(made->size_)) != 0) {
        error = std::string("cannot make shared memory for a buffer: ") + std::strerror(errno);
        return nullptr;
    }
    if (mapped) {
        void* memory = mmap(nullptr, made->size_, PROT_READ | PROT_WRITE, MAP_SHARED, made->fd_, 0);
        if (memory == MAP_FAILED) {
            error = std::string("cannot map a buffer's memory: ") + std::strerror(errno);
            return nullptr;
        }
        made->pixels_ = static_cast<std::uint32_t*>(memory);
        // Only the pages drawn on: without this, a read fault also maps the
        // neighbouring pages that the compositor's reading brought in.
        madvise(memory, made->size_, MADV_RANDOM);
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, made->fd_, static_cast<std::int32_t>(made->size_));
    made->buffer_.reset(wl_shm_pool_create_buffer(pool, 0, width, height, made->stride(), format));
    // The buffer keeps the pool's memory; the pool object itself is not needed.
    wl_shm_pool_destroy(pool);
    static const wl_buffer_listener listener = {.release = &ShmBuffer::OnRelease};
    wl_buffer_add_listener(made->buffer_.get(), &listener, made.get());
    return made;
}

ShmBuffer::~ShmBuffer() {
    buffer_.reset();
    if (pixels_ != nullptr) {
        munmap(pixels_, size_);
    }
    if (fd_ >= 0) {
        close(fd_);
    }
}

void ShmBuffer::OnRelease(void* data, wl_buffer*) {
    static_cast<ShmBuffer*>(data)->busy_ = false;
}

void ShmBuffer::GiveBack(std::size_t offset, std::size_t length) {
    if (busy_ || offset >= size_) {
        return;
    }
    length = std::min(length, size_ - offset);
    // A hole in the memory file: the pages are freed, and read back as zeros.
    fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
              static_cast<off_t>(length));
}

}  // namespace quillomir::wayland
