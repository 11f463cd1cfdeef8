// The label's text in the desktop's font: fontconfig picks the font that the
// desktop's "sans-serif" stands for, FreeType renders it in shades of grey.
// Both libraries are loaded when a label is first shown, not linked, so that
// a saver without a label never maps them (with the label shown, the saver's
// peak memory is about 1.9 MiB higher on a 1080p output). Not cairo: it would bring
// its own renderer and image libraries for what is one line of grey text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillomir::wayland {

class LabelFont {
  public:
    // The font at `points` and `dpi`; empty, with the reason in `error`, when
    // the libraries or a font cannot be loaded.
    static std::unique_ptr<LabelFont> Load(double points, double dpi, std::string& error);
    ~LabelFont();
    LabelFont(const LabelFont&) = delete;
    LabelFont& operator=(const LabelFont&) = delete;

    // The text's coverage, one byte a pixel, on a width x height box whose top
    // is the font's ascent above the baseline; what does not fit is cut off.
    std::vector<std::uint8_t> Render(std::string_view text, int width, int height) const;

  private:
    struct Libraries;
    LabelFont();

    std::unique_ptr<Libraries> libraries_;
};

}  // namespace quillomir::wayland
