// A cover as a layer surface: on the overlay layer, anchored to all four
// edges, over every panel (exclusive zone -1). The input cover takes the
// keyboard exclusively; a picture has an empty input region, so that the
// pointer passes through it to the input cover above or below.
#include "cover.h"
#include "cover_role.h"

namespace quillomir::wayland {

namespace {

constexpr std::uint32_t kAllEdges =
    ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
    ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;

class LayerRole final : public CoverRole {
  public:
    LayerRole(Session& session, Cover& cover, Output& output, bool input) : cover_(cover) {
        layer_.reset(zwlr_layer_shell_v1_get_layer_surface(
            session.layerShell(), cover.surface(), output.proxy.get(),
            ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "quillomir"));
        static const zwlr_layer_surface_v1_listener listener = {.configure = OnConfigure,
                                                                .closed = OnClosed};
        zwlr_layer_surface_v1_add_listener(layer_.get(), &listener, this);
        zwlr_layer_surface_v1_set_anchor(layer_.get(), kAllEdges);
        zwlr_layer_surface_v1_set_exclusive_zone(layer_.get(), -1);
        if (input) {
            zwlr_layer_surface_v1_set_keyboard_interactivity(
                layer_.get(), ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
        } else {
            wl_region* nowhere = wl_compositor_create_region(session.compositor());
            wl_surface_set_input_region(cover.surface(), nowhere);
            wl_region_destroy(nowhere);
        }
    }

  private:
    static void OnConfigure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial,
                            std::uint32_t width, std::uint32_t height) {
        zwlr_layer_surface_v1_ack_configure(layer, serial);
        static_cast<LayerRole*>(data)->cover_.Configured(width, height);
    }
    // For its output, or for the compositor's own reasons: the saver makes it again.
    static void OnClosed(void* data, zwlr_layer_surface_v1*) {
        static_cast<LayerRole*>(data)->cover_.MarkClosed();
    }

    Cover& cover_;
    WlObject<zwlr_layer_surface_v1> layer_;
};

}  // namespace

std::unique_ptr<CoverRole> MakeLayerRole(Session& session, Cover& cover, Output& output,
                                         bool input) {
    return std::make_unique<LayerRole>(session, cover, output, input);
}

}  // namespace quillomir::wayland
