// A connection to the compositor and what the saver takes from it: the
// compositor, shared memory, the shell its covers need (the layer shell, or
// xdg-shell for --fullscreen's windows, whose pings it answers), the
// viewporter (when offered), the outputs as they come and go (with xdg-output's names and
// sizes where offered: wl_output names outputs only from version 4), and (on
// the connection that takes input) every seat's keyboard, pointer and touch. Events
// go to the saver.
// Every wait has a deadline and ends on SIGTERM or SIGINT, so that no
// compositor can hang the saver.
#pragma once

#include <wayland-client.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "linux/termination_signals.h"
#include "output_size.h"
#include "viewporter-client-protocol.h"
#include "wl_object.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace quillomir::wayland {

QUILLOMIR_WL_DELETE(zwlr_layer_shell_v1,
                    VersionOf(object) >= ZWLR_LAYER_SHELL_V1_DESTROY_SINCE_VERSION
                        ? zwlr_layer_shell_v1_destroy(object)
                        : wl_proxy_destroy(reinterpret_cast<wl_proxy*>(object)))
QUILLOMIR_WL_DELETE(zwlr_layer_surface_v1, zwlr_layer_surface_v1_destroy(object))
QUILLOMIR_WL_DELETE(xdg_wm_base, xdg_wm_base_destroy(object))
QUILLOMIR_WL_DELETE(wp_viewporter, wp_viewporter_destroy(object))
QUILLOMIR_WL_DELETE(wp_viewport, wp_viewport_destroy(object))
QUILLOMIR_WL_DELETE(zxdg_output_manager_v1, zxdg_output_manager_v1_destroy(object))
QUILLOMIR_WL_DELETE(zxdg_output_v1, zxdg_output_v1_destroy(object))

class Session;

struct Output {
    Session* session = nullptr;
    std::uint32_t id = 0;  // its global's name in the registry
    WlObject<wl_output> proxy;
    WlObject<zxdg_output_v1> xdg;  // destroyed before the wl_output it describes
    std::string name;              // wl_output's, from version 4
    std::string xdgName;           // xdg-output's, from its version 2
    int x = 0;                     // its place in the compositor's layout
    int y = 0;
    OutputSize size;
    bool ready = false;  // described in full at least once

    // The name to match --output against; empty where the compositor names none.
    const std::string& Name() const { return name.empty() ? xdgName : name; }
};

class SessionEvents {
  public:
    virtual ~SessionEvents() = default;
    virtual void OutputReady(Output& output) = 0;    // the first full description
    virtual void OutputChanged(Output& output) = 0;  // a later one
    virtual void OutputGone(Output& output) = 0;     // before it is dropped
    // Surface coordinates of the surface the pointer entered last.
    virtual void PointerEntered(wl_pointer* pointer, std::uint32_t serial, wl_surface* surface,
                                double x, double y) = 0;
    virtual void PointerMoved(double x, double y) = 0;
    // A button, or a turn of the wheel (as on X11, where it is a button too).
    virtual void PointerPressed() = 0;
    virtual void KeyPressed() = 0;
    // A touch point went down on `surface`, at its surface coordinates.
    virtual void Touched(wl_surface* surface, double x, double y) = 0;
};

enum class Pumped { Ok, Terminated, Lost };

// The shell a session's covers are made with; None for a connection that
// only takes input.
enum class CoverShell { Layer, Window, None };

class Session {
  public:
    // `seats`: whether this connection takes the keyboard and pointer.
    Session(wl_display* display, SessionEvents& events, bool seats, CoverShell shell);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Binds the globals and waits until the outputs are described; false with
    // the reason (no shell for the covers, a compositor that does not answer). There
    // may be no output yet: the saver waits for one.
    // `terminated` tells a signal from a failure.
    bool Start(linux_host::TerminationSignals& signals, std::string& error, bool& terminated);

    // One turn of the loop: dispatches what arrived, sends what was asked, and
    // waits for the compositor, a signal or `timeoutMs` (none: no limit).
    Pumped Pump(linux_host::TerminationSignals& signals, std::optional<int> timeoutMs);
    // Reads and dispatches what has arrived, without waiting for more, and
    // sends what was asked (waiting only while the socket is full).
    Pumped Drain();
    // Sends what was asked, waiting only while the socket is full; false when
    // the connection failed.
    bool Flush();
    // Waits until the compositor has handled every request sent so far.
    Pumped RoundTrip(linux_host::TerminationSignals& signals, int timeoutMs, bool& answered);
    // Why the connection failed, for the message.
    std::string ConnectionError() const;

    wl_compositor* compositor() const { return compositor_.get(); }
    wl_shm* shm() const { return shm_.get(); }
    zwlr_layer_shell_v1* layerShell() const { return layerShell_.get(); }
    xdg_wm_base* wmBase() const { return wmBase_.get(); }
    wp_viewporter* viewporter() const { return viewporter_.get(); }
    const std::vector<std::unique_ptr<Output>>& outputs() const { return outputs_; }

  private:
    struct Seat;
    static void OnGlobal(void* data, wl_registry* registry, std::uint32_t id, const char* interface,
                         std::uint32_t version);
    static void OnGlobalRemove(void* data, wl_registry* registry, std::uint32_t id);
    void AddOutput(std::uint32_t id, std::uint32_t version);
    void DescribeOutput(Output& output);  // asks xdg-output about it, where offered
    void OutputDone(Output& output);      // a full description has arrived
    void AddSeat(std::uint32_t id, std::uint32_t version);
    friend struct SessionListeners;
    friend struct OutputListeners;

    // Dispatches what is queued and holds the read, so that no event slips in
    // between the dispatch and the wait; false when the connection failed.
    bool PrepareRead();

    wl_display* display_;
    SessionEvents& events_;
    bool withSeats_;
    CoverShell shell_;
    bool started_ = false;
    WlObject<wl_registry> registry_;
    WlObject<wl_compositor> compositor_;
    WlObject<wl_shm> shm_;
    WlObject<zwlr_layer_shell_v1> layerShell_;
    WlObject<xdg_wm_base> wmBase_;
    WlObject<wp_viewporter> viewporter_;
    WlObject<zxdg_output_manager_v1> xdgOutputs_;
    std::vector<std::unique_ptr<Output>> outputs_;
    std::vector<std::unique_ptr<Seat>> seats_;
};

}  // namespace quillomir::wayland
