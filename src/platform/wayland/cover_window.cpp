// A cover as a full-screen xdg-shell window on its output: titled
// "Quillomir", app id "quillomir", so that a shell can tell it from other
// windows and keep it on top. It shows the picture and takes the input
// itself: two full-screen windows on one output would fight over stacking
// and focus.
//
// The toplevel's configure says the size (0 x 0: ours to choose, the
// output's); the xdg_surface's configure that follows closes the batch and is
// acknowledged before the next commit. A close request ends the saver, as a
// key does: the user or the shell asked for it.
#include "cover.h"
#include "cover_role.h"

namespace quillomir::wayland {

QUILLOMIR_WL_DELETE(xdg_surface, xdg_surface_destroy(object))
QUILLOMIR_WL_DELETE(xdg_toplevel, xdg_toplevel_destroy(object))

namespace {

class WindowRole final : public CoverRole {
  public:
    WindowRole(Session& session, Cover& cover, Output& output) : cover_(cover) {
        xdgSurface_.reset(xdg_wm_base_get_xdg_surface(session.wmBase(), cover.surface()));
        static const xdg_surface_listener surfaceListener = {.configure = OnConfigure};
        xdg_surface_add_listener(xdgSurface_.get(), &surfaceListener, this);
        toplevel_.reset(xdg_surface_get_toplevel(xdgSurface_.get()));
        static const xdg_toplevel_listener toplevelListener = {
            .configure = OnToplevelConfigure,
            .close = OnClose,
            .configure_bounds = OnBounds,
            .wm_capabilities = OnCapabilities,
        };
        xdg_toplevel_add_listener(toplevel_.get(), &toplevelListener, this);
        xdg_toplevel_set_title(toplevel_.get(), "Quillomir");
        xdg_toplevel_set_app_id(toplevel_.get(), "quillomir");
        xdg_toplevel_set_fullscreen(toplevel_.get(), output.proxy.get());
    }

  private:
    static WindowRole& Of(void* data) { return *static_cast<WindowRole*>(data); }
    static void OnToplevelConfigure(void* data, xdg_toplevel*, std::int32_t width,
                                    std::int32_t height, wl_array*) {
        Of(data).width_ = static_cast<std::uint32_t>(width > 0 ? width : 0);
        Of(data).height_ = static_cast<std::uint32_t>(height > 0 ? height : 0);
    }
    static void OnConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
        xdg_surface_ack_configure(surface, serial);
        Of(data).cover_.Configured(Of(data).width_, Of(data).height_);
    }
    static void OnClose(void* data, xdg_toplevel*) { Of(data).cover_.AskToEnd(); }
    static void OnBounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
    static void OnCapabilities(void*, xdg_toplevel*, wl_array*) {}

    Cover& cover_;
    WlObject<xdg_surface> xdgSurface_;
    WlObject<xdg_toplevel> toplevel_;  // destroyed before its xdg_surface
    std::uint32_t width_ = 0;          // the last toplevel configure's
    std::uint32_t height_ = 0;
};

}  // namespace

std::unique_ptr<CoverRole> MakeWindowRole(Session& session, Cover& cover, Output& output) {
    return std::make_unique<WindowRole>(session, cover, output);
}

}  // namespace quillomir::wayland
