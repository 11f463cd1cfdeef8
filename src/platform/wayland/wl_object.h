// Owners for Wayland client objects: each sends its destructor request (or
// just frees the proxy) when it goes out of scope, while the connection is
// still open. WlDelete<T> says how a T goes; the protocol objects' own are
// beside their generated headers' use (wl_session.h).
#pragma once

#include <wayland-client.h>

#include <utility>

namespace quillomir::wayland {

template <typename T>
struct WlDelete;

template <typename T>
class WlObject {
  public:
    WlObject() = default;
    explicit WlObject(T* object) : object_(object) {}
    ~WlObject() { reset(); }
    WlObject(const WlObject&) = delete;
    WlObject& operator=(const WlObject&) = delete;
    WlObject(WlObject&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    WlObject& operator=(WlObject&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.object_, nullptr));
        }
        return *this;
    }

    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void reset(T* object = nullptr) {
        if (object_ != nullptr) {
            WlDelete<T>::Free(object_);
        }
        object_ = object;
    }

  private:
    T* object_ = nullptr;
};

inline int VersionOf(void* proxy) {
    return static_cast<int>(wl_proxy_get_version(static_cast<wl_proxy*>(proxy)));
}

// Objects whose destructor request came in a later version are only freed
// on the client's side where the compositor is older.
#define QUILLOMIR_WL_DELETE(type, how)          \
    template <>                                 \
    struct WlDelete<type> {                     \
        static void Free(type* object) { how; } \
    };

QUILLOMIR_WL_DELETE(wl_display, wl_display_disconnect(object))
QUILLOMIR_WL_DELETE(wl_registry, wl_registry_destroy(object))
QUILLOMIR_WL_DELETE(wl_compositor, wl_compositor_destroy(object))
QUILLOMIR_WL_DELETE(wl_shm, wl_shm_destroy(object))
QUILLOMIR_WL_DELETE(wl_surface, wl_surface_destroy(object))
QUILLOMIR_WL_DELETE(wl_buffer, wl_buffer_destroy(object))
QUILLOMIR_WL_DELETE(wl_callback, wl_callback_destroy(object))
QUILLOMIR_WL_DELETE(wl_output, VersionOf(object) >= WL_OUTPUT_RELEASE_SINCE_VERSION
                                   ? wl_output_release(object)
                                   : wl_output_destroy(object))
QUILLOMIR_WL_DELETE(wl_seat, VersionOf(object) >= WL_SEAT_RELEASE_SINCE_VERSION
                                 ? wl_seat_release(object)
                                 : wl_seat_destroy(object))
QUILLOMIR_WL_DELETE(wl_pointer, VersionOf(object) >= WL_POINTER_RELEASE_SINCE_VERSION
                                    ? wl_pointer_release(object)
                                    : wl_pointer_destroy(object))
QUILLOMIR_WL_DELETE(wl_keyboard, VersionOf(object) >= WL_KEYBOARD_RELEASE_SINCE_VERSION
                                     ? wl_keyboard_release(object)
                                     : wl_keyboard_destroy(object))
QUILLOMIR_WL_DELETE(wl_touch, VersionOf(object) >= WL_TOUCH_RELEASE_SINCE_VERSION
                                  ? wl_touch_release(object)
                                  : wl_touch_destroy(object))

}  // namespace quillomir::wayland
