// The outputs of a session: what wl_output and xdg-output say about each, and
// when the saver hears of it. A description ends with wl_output's `done`
// (xdg-output from version 3 sends none of its own); an older xdg-output's
// `done` ends its part in the same way.
#include <algorithm>

#include "wl_session.h"

namespace quillomir::wayland {

namespace {

constexpr std::uint32_t kOutputVersion = 4;  // name

}  // namespace

struct OutputListeners {
    static Output& Of(void* data) { return *static_cast<Output*>(data); }

    static void Geometry(void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t,
                         std::int32_t, std::int32_t, const char*, const char*,
                         std::int32_t transform) {
        Output& output = Of(data);
        output.x = x;
        output.y = y;
        output.size.transform = transform;
    }
    static void Mode(void* data, wl_output*, std::uint32_t flags, std::int32_t width,
                     std::int32_t height, std::int32_t) {
        if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
            Of(data).size.modeWidth = std::max(width, 0);
            Of(data).size.modeHeight = std::max(height, 0);
        }
    }
    static void Scale(void* data, wl_output*, std::int32_t factor) {
        Of(data).size.scale = std::clamp(factor, 1, 16);
    }
    static void Name(void* data, wl_output*, const char* name) {
        Of(data).name = name != nullptr ? name : "";
    }
    static void Description(void*, wl_output*, const char*) {}
    static void Done(void* data, wl_output*) { Of(data).session->OutputDone(Of(data)); }
    static constexpr wl_output_listener kOutput = {
        .geometry = Geometry,
        .mode = Mode,
        .done = Done,
        .scale = Scale,
        .name = Name,
        .description = Description,
    };

    static void LogicalPosition(void*, zxdg_output_v1*, std::int32_t, std::int32_t) {}
    static void LogicalSize(void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
        Of(data).size.logicalWidth = std::max(width, 0);
        Of(data).size.logicalHeight = std::max(height, 0);
    }
    static void XdgDone(void* data, zxdg_output_v1*) { Of(data).session->OutputDone(Of(data)); }
    static void XdgName(void* data, zxdg_output_v1*, const char* name) {
        Of(data).xdgName = name != nullptr ? name : "";
    }
    static void XdgDescription(void*, zxdg_output_v1*, const char*) {}
    static constexpr zxdg_output_v1_listener kXdgOutput = {
        .logical_position = LogicalPosition,
        .logical_size = LogicalSize,
        .done = XdgDone,
        .name = XdgName,
        .description = XdgDescription,
    };
};

void Session::AddOutput(std::uint32_t id, std::uint32_t version) {
    auto output = std::make_unique<Output>();
    output->session = this;
    output->id = id;
    output->proxy.reset(static_cast<wl_output*>(wl_registry_bind(
        registry_.get(), id, &wl_output_interface, std::min(version, kOutputVersion))));
    wl_output_add_listener(output->proxy.get(), &OutputListeners::kOutput, output.get());
    DescribeOutput(*output);
    // Without `done` (version 1) what the bind sends is all there is.
    output->ready = version < WL_OUTPUT_DONE_SINCE_VERSION;
    outputs_.push_back(std::move(output));
    if (started_ && outputs_.back()->ready) {
        events_.OutputReady(*outputs_.back());
    }
}

void Session::DescribeOutput(Output& output) {
    if (!xdgOutputs_ || output.xdg) {
        return;
    }
    output.xdg.reset(zxdg_output_manager_v1_get_xdg_output(xdgOutputs_.get(), output.proxy.get()));
    zxdg_output_v1_add_listener(output.xdg.get(), &OutputListeners::kXdgOutput, &output);
}

void Session::OutputDone(Output& output) {
    const bool first = !output.ready;
    output.ready = true;
    if (started_) {
        if (first) {
            events_.OutputReady(output);
        } else {
            events_.OutputChanged(output);
        }
    }
}

}  // namespace quillomir::wayland
