#include "wl_session.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "linux/display_wait.h"

namespace quillomir::wayland {

namespace {

// Versions this saver speaks; a compositor's lower ones are used as they are.
constexpr std::uint32_t kCompositorVersion = 4;  // damage_buffer
constexpr std::uint32_t kSeatVersion = 5;        // release of pointer and keyboard
constexpr std::uint32_t kLayerShellVersion = 4;
constexpr std::uint32_t kWmBaseVersion = 5;     // the toplevel's configure_bounds, wm_capabilities
constexpr std::uint32_t kXdgOutputVersion = 3;  // wl_output's done ends its descriptions
constexpr int kStartTimeoutMs = 5000;

template <typename T>
T* Bind(wl_registry* registry, std::uint32_t id, const wl_interface* interface,
        std::uint32_t offered, std::uint32_t wanted) {
    return static_cast<T*>(wl_registry_bind(registry, id, interface, std::min(offered, wanted)));
}

}  // namespace

struct Session::Seat {
    Session* session = nullptr;
    std::uint32_t id = 0;
    WlObject<wl_seat> seat;
    WlObject<wl_pointer> pointer;
    WlObject<wl_keyboard> keyboard;
    WlObject<wl_touch> touch;
};

// The listeners: each event goes to the session, or on to the saver.
struct SessionListeners {
    static void Enter(void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface,
                      wl_fixed_t x, wl_fixed_t y) {
        auto* seat = static_cast<Session::Seat*>(data);
        seat->session->events_.PointerEntered(pointer, serial, surface, wl_fixed_to_double(x),
                                              wl_fixed_to_double(y));
    }
    static void Leave(void*, wl_pointer*, std::uint32_t, wl_surface*) {}
    static void Motion(void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
        auto* seat = static_cast<Session::Seat*>(data);
        seat->session->events_.PointerMoved(wl_fixed_to_double(x), wl_fixed_to_double(y));
    }
    static void Button(void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t,
                       std::uint32_t state) {
        if (state == WL_POINTER_BUTTON_STATE_PRESSED) {
            static_cast<Session::Seat*>(data)->session->events_.PointerPressed();
        }
    }
    // A wheel turn ends the saver as a click does, as on X11 (buttons 4 to 7).
    // Every turn sends `axis`; a stop of kinetic scrolling sends none.
    static void Axis(void* data, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t value) {
        if (value != 0) {
            static_cast<Session::Seat*>(data)->session->events_.PointerPressed();
        }
    }
    static void Frame(void*, wl_pointer*) {}
    static void AxisSource(void*, wl_pointer*, std::uint32_t) {}
    static void AxisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
    static void AxisDiscrete(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
    static void AxisValue120(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
    static constexpr wl_pointer_listener kPointer = {
        .enter = Enter,
        .leave = Leave,
        .motion = Motion,
        .button = Button,
        .axis = Axis,
        .frame = Frame,
        .axis_source = AxisSource,
        .axis_stop = AxisStop,
        .axis_discrete = AxisDiscrete,
        .axis_value120 = AxisValue120,
    };

    static void Keymap(void*, wl_keyboard*, std::uint32_t, std::int32_t fd, std::uint32_t) {
        close(fd);  // any key ends the saver: which one it is does not matter
    }
    static void KeyEnter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
    static void KeyLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
    static void Key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                    std::uint32_t state) {
        if (state == WL_KEYBOARD_KEY_STATE_PRESSED) {
            static_cast<Session::Seat*>(data)->session->events_.KeyPressed();
        }
    }
    static void Modifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t, std::uint32_t) {}
    static void RepeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
    static constexpr wl_keyboard_listener kKeyboard = {
        .keymap = Keymap,
        .enter = KeyEnter,
        .leave = KeyLeave,
        .key = Key,
        .modifiers = Modifiers,
        .repeat_info = RepeatInfo,
    };

    static void TouchDown(void* data, wl_touch*, std::uint32_t, std::uint32_t, wl_surface* surface,
                          std::int32_t, wl_fixed_t x, wl_fixed_t y) {
        static_cast<Session::Seat*>(data)->session->events_.Touched(surface, wl_fixed_to_double(x),
                                                                    wl_fixed_to_double(y));
    }
    static void TouchUp(void*, wl_touch*, std::uint32_t, std::uint32_t, std::int32_t) {}
    static void TouchMotion(void*, wl_touch*, std::uint32_t, std::int32_t, wl_fixed_t, wl_fixed_t) {
    }
    static void TouchFrame(void*, wl_touch*) {}
    static void TouchCancel(void*, wl_touch*) {}
    static void TouchShape(void*, wl_touch*, std::int32_t, wl_fixed_t, wl_fixed_t) {}
    static void TouchOrientation(void*, wl_touch*, std::int32_t, wl_fixed_t) {}
    static constexpr wl_touch_listener kTouch = {
        .down = TouchDown,
        .up = TouchUp,
        .motion = TouchMotion,
        .frame = TouchFrame,
        .cancel = TouchCancel,
        .shape = TouchShape,
        .orientation = TouchOrientation,
    };

    static void Capabilities(void* data, wl_seat*, std::uint32_t capabilities) {
        auto* seat = static_cast<Session::Seat*>(data);
        const bool pointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
        const bool keyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
        if (pointer && !seat->pointer) {
            seat->pointer.reset(wl_seat_get_pointer(seat->seat.get()));
            wl_pointer_add_listener(seat->pointer.get(), &kPointer, seat);
        } else if (!pointer) {
            seat->pointer.reset();
        }
        if (keyboard && !seat->keyboard) {
            seat->keyboard.reset(wl_seat_get_keyboard(seat->seat.get()));
            wl_keyboard_add_listener(seat->keyboard.get(), &kKeyboard, seat);
        } else if (!keyboard) {
            seat->keyboard.reset();
        }
        const bool touch = (capabilities & WL_SEAT_CAPABILITY_TOUCH) != 0;
        if (touch && !seat->touch) {
            seat->touch.reset(wl_seat_get_touch(seat->seat.get()));
            wl_touch_add_listener(seat->touch.get(), &kTouch, seat);
        } else if (!touch) {
            seat->touch.reset();
        }
    }
    static void SeatName(void*, wl_seat*, const char*) {}
    static constexpr wl_seat_listener kSeat = {.capabilities = Capabilities, .name = SeatName};

    // A window whose client does not answer is shown as not responding.
    static void Ping(void*, xdg_wm_base* base, std::uint32_t serial) {
        xdg_wm_base_pong(base, serial);
    }
    static constexpr xdg_wm_base_listener kWmBase = {.ping = Ping};

    static void Synced(void* data, wl_callback*, std::uint32_t) {
        *static_cast<bool*>(data) = true;
    }
    static constexpr wl_callback_listener kSync = {.done = Synced};
};

Session::Session(wl_display* display, SessionEvents& events, bool seats, CoverShell shell)
    : display_(display), events_(events), withSeats_(seats), shell_(shell) {}

Session::~Session() {
    seats_.clear();
    outputs_.clear();
}

void Session::OnGlobal(void* data, wl_registry* registry, std::uint32_t id, const char* interface,
                       std::uint32_t version) {
    auto* session = static_cast<Session*>(data);
    const std::string_view name = interface;
    if (name == wl_compositor_interface.name && !session->compositor_) {
        session->compositor_.reset(Bind<wl_compositor>(registry, id, &wl_compositor_interface,
                                                       version, kCompositorVersion));
    } else if (name == wl_shm_interface.name && !session->shm_) {
        session->shm_.reset(Bind<wl_shm>(registry, id, &wl_shm_interface, version, 1));
    } else if (name == zwlr_layer_shell_v1_interface.name && session->shell_ == CoverShell::Layer &&
               !session->layerShell_) {
        session->layerShell_.reset(Bind<zwlr_layer_shell_v1>(
            registry, id, &zwlr_layer_shell_v1_interface, version, kLayerShellVersion));
    } else if (name == xdg_wm_base_interface.name && session->shell_ == CoverShell::Window &&
               !session->wmBase_) {
        session->wmBase_.reset(
            Bind<xdg_wm_base>(registry, id, &xdg_wm_base_interface, version, kWmBaseVersion));
        xdg_wm_base_add_listener(session->wmBase_.get(), &SessionListeners::kWmBase, nullptr);
    } else if (name == wp_viewporter_interface.name && !session->viewporter_) {
        session->viewporter_.reset(
            Bind<wp_viewporter>(registry, id, &wp_viewporter_interface, version, 1));
    } else if (name == zxdg_output_manager_v1_interface.name && !session->xdgOutputs_) {
        session->xdgOutputs_.reset(Bind<zxdg_output_manager_v1>(
            registry, id, &zxdg_output_manager_v1_interface, version, kXdgOutputVersion));
        for (const auto& output : session->outputs_) {
            session->DescribeOutput(*output);
        }
    } else if (name == wl_output_interface.name) {
        session->AddOutput(id, version);
    } else if (name == wl_seat_interface.name && session->withSeats_) {
        session->AddSeat(id, version);
    }
}

void Session::OnGlobalRemove(void* data, wl_registry*, std::uint32_t id) {
    auto* session = static_cast<Session*>(data);
    auto& outputs = session->outputs_;
    for (auto it = outputs.begin(); it != outputs.end(); ++it) {
        if ((*it)->id == id) {
            if (session->started_ && (*it)->ready) {
                session->events_.OutputGone(**it);
            }
            outputs.erase(it);
            return;
        }
    }
    auto& seats = session->seats_;
    seats.erase(std::remove_if(seats.begin(), seats.end(),
                               [id](const std::unique_ptr<Seat>& seat) { return seat->id == id; }),
                seats.end());
}

void Session::AddSeat(std::uint32_t id, std::uint32_t version) {
    auto seat = std::make_unique<Seat>();
    seat->session = this;
    seat->id = id;
    seat->seat.reset(Bind<wl_seat>(registry_.get(), id, &wl_seat_interface, version, kSeatVersion));
    wl_seat_add_listener(seat->seat.get(), &SessionListeners::kSeat, seat.get());
    seats_.push_back(std::move(seat));
}

bool Session::Start(linux_host::TerminationSignals& signals, std::string& error, bool& terminated) {
    terminated = false;
    static constexpr wl_registry_listener kRegistry = {.global = OnGlobal,
                                                       .global_remove = OnGlobalRemove};
    registry_.reset(wl_display_get_registry(display_));
    wl_registry_add_listener(registry_.get(), &kRegistry, this);
    // The first answer lists the globals; the second, what the outputs and
    // seats bound in between say about themselves.
    for (int pass = 0; pass < 2; ++pass) {
        bool answered = false;
        const Pumped result = RoundTrip(signals, kStartTimeoutMs, answered);
        if (result == Pumped::Terminated) {
            terminated = true;
            return false;
        }
        if (result == Pumped::Lost) {
            error = ConnectionError();
            return false;
        }
        if (!answered) {
            error = "the Wayland compositor did not answer within 5 seconds";
            return false;
        }
    }
    if (!compositor_ || !shm_) {
        error = "the Wayland compositor offers no wl_compositor or wl_shm";
        return false;
    }
    if (shell_ == CoverShell::Layer && !layerShell_) {
        error =
            "the Wayland compositor offers no wlr-layer-shell-unstable-v1, so no client can "
            "cover its screen by itself; on GNOME, Quillomir runs through its GNOME Shell "
            "extension";
        return false;
    }
    if (shell_ == CoverShell::Window && !wmBase_) {
        error =
            "the Wayland compositor offers no xdg_wm_base (xdg-shell), so --fullscreen has no "
            "window to cover its outputs with";
        return false;
    }
    started_ = true;
    return true;
}

Pumped Session::Pump(linux_host::TerminationSignals& signals, std::optional<int> timeoutMs) {
    if (!PrepareRead()) {
        return Pumped::Lost;
    }
    bool wantWrite = false;
    if (wl_display_flush(display_) < 0) {
        if (errno != EAGAIN) {
            wl_display_cancel_read(display_);
            return Pumped::Lost;
        }
        wantWrite = true;  // the socket is full: wait until it takes more
    }
    const linux_host::WaitResult woke =
        linux_host::WaitForDisplay(wl_display_get_fd(display_), signals, timeoutMs, wantWrite);
    if (woke.readable) {
        if (wl_display_read_events(display_) < 0) {
            return Pumped::Lost;
        }
    } else {
        wl_display_cancel_read(display_);
        if (woke.hungUp || woke.failed) {
            return Pumped::Lost;
        }
    }
    if (wl_display_dispatch_pending(display_) < 0) {
        return Pumped::Lost;
    }
    return woke.terminated ? Pumped::Terminated : Pumped::Ok;
}

bool Session::PrepareRead() {
    if (wl_display_dispatch_pending(display_) < 0) {
        return false;
    }
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            return false;
        }
    }
    return true;
}

bool Session::Flush() {
    constexpr int kFullSocketWaitMs = 1000;
    while (wl_display_flush(display_) < 0) {
        if (errno != EAGAIN) {
            return false;
        }
        pollfd fd{wl_display_get_fd(display_), POLLOUT, 0};
        if (poll(&fd, 1, kFullSocketWaitMs) <= 0 || (fd.revents & (POLLERR | POLLHUP)) != 0) {
            return false;  // a compositor that takes nothing for a second is gone
        }
    }
    return true;
}

Pumped Session::Drain() {
    if (!PrepareRead()) {
        return Pumped::Lost;
    }
    if (!Flush()) {
        wl_display_cancel_read(display_);
        return Pumped::Lost;
    }
    // The read does not wait: with nothing in the socket it reads nothing,
    // and a closed connection fails it.
    if (wl_display_read_events(display_) < 0) {
        return Pumped::Lost;
    }
    return wl_display_dispatch_pending(display_) < 0 ? Pumped::Lost : Pumped::Ok;
}

Pumped Session::RoundTrip(linux_host::TerminationSignals& signals, int timeoutMs, bool& answered) {
    using Clock = std::chrono::steady_clock;
    answered = false;
    WlObject<wl_callback> sync(wl_display_sync(display_));
    wl_callback_add_listener(sync.get(), &SessionListeners::kSync, &answered);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!answered) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return Pumped::Ok;
        }
        const Pumped result = Pump(signals, static_cast<int>(left));
        if (result != Pumped::Ok) {
            return result;
        }
    }
    return Pumped::Ok;
}

std::string Session::ConnectionError() const {
    const int code = wl_display_get_error(display_);
    if (code == EPROTO) {
        const wl_interface* interface = nullptr;
        std::uint32_t id = 0;
        const std::uint32_t error = wl_display_get_protocol_error(display_, &interface, &id);
        return "the Wayland compositor ended the connection for a protocol error (" +
               std::string(interface != nullptr ? interface->name : "unknown") + " error " +
               std::to_string(error) + ")";
    }
    return std::string("the connection to the Wayland compositor was lost") +
           (code != 0 ? std::string(": ") + std::strerror(code) : std::string());
}

}  // namespace quillomir::wayland
