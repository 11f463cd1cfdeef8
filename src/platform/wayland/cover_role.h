// The shell's part of a cover: what puts its surface over one output and
// tells it the size to take. Two kinds, each in its own file:
// - a layer surface on the overlay layer (cover_layer.cpp), over every panel,
//   where the compositor offers wlr-layer-shell;
// - a full-screen xdg-shell window (cover_window.cpp), with --fullscreen, for
//   a desktop whose own shell keeps that window on top.
// A role answers the compositor's configures itself and passes on to its
// cover what they mean: a size, a cover taken away, a request to end.
#pragma once

#include <memory>

namespace quillomir::wayland {

class Cover;
class Session;
struct Output;

class CoverRole {
  public:
    virtual ~CoverRole() = default;
};

// `input`: the transparent cover that takes the keyboard and the pointer;
// otherwise a picture that lets both through.
std::unique_ptr<CoverRole> MakeLayerRole(Session& session, Cover& cover, Output& output,
                                         bool input);
// One window that shows the picture and takes the input itself.
std::unique_ptr<CoverRole> MakeWindowRole(Session& session, Cover& cover, Output& output);

}  // namespace quillomir::wayland
