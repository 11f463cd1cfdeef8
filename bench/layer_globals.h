// What the Wayland floors take from the compositor, and their covers: a
// layer surface on the overlay layer of each output, anchored to every edge
// and taking the keyboard, as the saver's input cover is.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "wlr-layer-shell-unstable-v1-client-protocol.h"

namespace bench {

struct LayerGlobals {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    zwlr_layer_shell_v1* shell = nullptr;
    std::vector<wl_output*> outputs;
};

namespace detail {

inline void OnGlobal(void* data, wl_registry* registry, std::uint32_t id, const char* interface,
                     std::uint32_t) {
    auto* globals = static_cast<LayerGlobals*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        globals->compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, id, &wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        globals->shm = static_cast<wl_shm*>(wl_registry_bind(registry, id, &wl_shm_interface, 1));
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
        globals->shell = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, id, &zwlr_layer_shell_v1_interface, 1));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        globals->outputs.push_back(
            static_cast<wl_output*>(wl_registry_bind(registry, id, &wl_output_interface, 1)));
    }
}

inline void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

}  // namespace detail

// Binds what the floors need; false when the compositor lacks any of it.
inline bool BindLayerGlobals(wl_display* display, LayerGlobals& globals) {
    static const wl_registry_listener listener = {detail::OnGlobal, detail::OnGlobalRemove};
    wl_registry_add_listener(wl_display_get_registry(display), &listener, &globals);
    wl_display_roundtrip(display);
    return globals.compositor != nullptr && globals.shm != nullptr && globals.shell != nullptr;
}

// A cover over `output`, committed without a buffer: the configure brings its size.
inline zwlr_layer_surface_v1* OverlayCover(const LayerGlobals& globals, wl_surface* surface,
                                           wl_output* output, const char* name,
                                           const zwlr_layer_surface_v1_listener& listener,
                                           void* data) {
    zwlr_layer_surface_v1* layer = zwlr_layer_shell_v1_get_layer_surface(
        globals.shell, surface, output, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, name);
    zwlr_layer_surface_v1_add_listener(layer, &listener, data);
    zwlr_layer_surface_v1_set_anchor(
        layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                   ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    zwlr_layer_surface_v1_set_exclusive_zone(layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(layer, 1);
    wl_surface_commit(surface);
    return layer;
}

}  // namespace bench
