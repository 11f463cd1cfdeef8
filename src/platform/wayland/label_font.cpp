#include "label_font.h"

#include <dlfcn.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>

namespace quillomir::wayland {

namespace {

// A shared library opened for as long as it is needed.
class SharedLibrary {
  public:
    explicit SharedLibrary(const char* name) : handle_(dlopen(name, RTLD_NOW | RTLD_LOCAL)) {}
    ~SharedLibrary() {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    // Sets `function` to the library's symbol of that name; false when missing.
    template <typename Function>
    bool Find(const char* symbol, Function*& function) const {
        function = reinterpret_cast<Function*>(dlsym(handle_, symbol));
        return function != nullptr;
    }

  private:
    void* handle_;
};

}  // namespace

struct LabelFont::Libraries {
    // Fontconfig answers one question and is closed again (its configuration
    // and caches are large); FreeType stays for the captions to come.
    std::unique_ptr<SharedLibrary> fontconfig =
        std::make_unique<SharedLibrary>("libfontconfig.so.1");
    SharedLibrary freetype{"libfreetype.so.6"};

    decltype(FcInitLoadConfigAndFonts)* initConfig = nullptr;
    decltype(FcConfigDestroy)* destroyConfig = nullptr;
    decltype(FcNameParse)* parseName = nullptr;
    decltype(FcPatternAddDouble)* addDouble = nullptr;
    decltype(FcConfigSubstitute)* substitute = nullptr;
    decltype(FcDefaultSubstitute)* defaultSubstitute = nullptr;
    decltype(FcFontMatch)* match = nullptr;
    decltype(FcPatternGetString)* getString = nullptr;
    decltype(FcPatternGetInteger)* getInteger = nullptr;
    decltype(FcPatternDestroy)* destroyPattern = nullptr;
    decltype(FcFini)* finish = nullptr;

    decltype(FT_Init_FreeType)* initFreeType = nullptr;
    decltype(FT_Done_FreeType)* doneFreeType = nullptr;
    decltype(FT_New_Face)* newFace = nullptr;
    decltype(FT_Done_Face)* doneFace = nullptr;
    decltype(FT_Set_Char_Size)* setCharSize = nullptr;
    decltype(FT_Get_Char_Index)* charIndex = nullptr;
    decltype(FT_Load_Glyph)* loadGlyph = nullptr;

    FT_Library library = nullptr;
    FT_Face face = nullptr;

    bool Bind() {
        return fontconfig->Find("FcInitLoadConfigAndFonts", initConfig) &&
               fontconfig->Find("FcConfigDestroy", destroyConfig) &&
               fontconfig->Find("FcNameParse", parseName) &&
               fontconfig->Find("FcPatternAddDouble", addDouble) &&
               fontconfig->Find("FcConfigSubstitute", substitute) &&
               fontconfig->Find("FcDefaultSubstitute", defaultSubstitute) &&
               fontconfig->Find("FcFontMatch", match) &&
               fontconfig->Find("FcPatternGetString", getString) &&
               fontconfig->Find("FcPatternGetInteger", getInteger) &&
               fontconfig->Find("FcPatternDestroy", destroyPattern) &&
               fontconfig->Find("FcFini", finish) &&
               freetype.Find("FT_Init_FreeType", initFreeType) &&
               freetype.Find("FT_Done_FreeType", doneFreeType) &&
               freetype.Find("FT_New_Face", newFace) && freetype.Find("FT_Done_Face", doneFace) &&
               freetype.Find("FT_Set_Char_Size", setCharSize) &&
               freetype.Find("FT_Get_Char_Index", charIndex) &&
               freetype.Find("FT_Load_Glyph", loadGlyph);
    }

    // The file and face index that fontconfig gives for the desktop's sans-serif.
    bool Match(double points, double dpi, std::string& file, int& index) {
        FcConfig* config = initConfig();
        if (config == nullptr) {
            return false;
        }
        FcPattern* pattern = parseName(reinterpret_cast<const FcChar8*>("sans-serif"));
        bool found = false;
        if (pattern != nullptr) {
            addDouble(pattern, FC_SIZE, points);
            addDouble(pattern, FC_DPI, dpi);
            substitute(config, pattern, FcMatchPattern);
            defaultSubstitute(pattern);
            FcResult result = FcResultNoMatch;
            if (FcPattern* matched = match(config, pattern, &result)) {
                FcChar8* path = nullptr;
                if (getString(matched, FC_FILE, 0, &path) == FcResultMatch && path != nullptr) {
                    file = reinterpret_cast<const char*>(path);
                    if (getInteger(matched, FC_INDEX, 0, &index) != FcResultMatch) {
                        index = 0;
                    }
                    found = true;
                }
                destroyPattern(matched);
            }
            destroyPattern(pattern);
        }
        destroyConfig(config);
        finish();
        fontconfig.reset();
        return found;
    }

    ~Libraries() {
        if (face != nullptr) {
            doneFace(face);
        }
        if (library != nullptr) {
            doneFreeType(library);
        }
    }
};

LabelFont::LabelFont() : libraries_(std::make_unique<Libraries>()) {}

LabelFont::~LabelFont() = default;

std::unique_ptr<LabelFont> LabelFont::Load(double points, double dpi, std::string& error) {
    std::unique_ptr<LabelFont> font(new LabelFont());
    Libraries& libs = *font->libraries_;
    if (!libs.fontconfig->loaded() || !libs.freetype.loaded() || !libs.Bind()) {
        error = "the label needs libfontconfig.so.1 and libfreetype.so.6";
        return nullptr;
    }
    std::string file;
    int index = 0;
    if (!libs.Match(points, dpi, file, index)) {
        error = "fontconfig found no sans-serif font for the label";
        return nullptr;
    }
    const auto dotsPerInch = static_cast<FT_UInt>(std::lround(dpi));
    if (libs.initFreeType(&libs.library) != 0 ||
        libs.newFace(libs.library, file.c_str(), index, &libs.face) != 0 ||
        libs.setCharSize(libs.face, 0, static_cast<FT_F26Dot6>(std::lround(points * 64)),
                         dotsPerInch, dotsPerInch) != 0) {
        error = "FreeType cannot load the label's font " + file;
        return nullptr;
    }
    return font;
}

std::vector<std::uint8_t> LabelFont::Render(std::string_view text, int width, int height) const {
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(std::max(0, width)) *
                                       static_cast<std::size_t>(std::max(0, height)),
                                   0);
    const Libraries& libs = *libraries_;
    const FT_Face face = libs.face;
    const int baseline = static_cast<int>((face->size->metrics.ascender + 32) >> 6);
    int pen = 0;
    for (const char c : text) {
        const FT_UInt glyph = libs.charIndex(face, static_cast<unsigned char>(c));
        if (libs.loadGlyph(face, glyph, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) {
            continue;
        }
        const FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
            const int left = pen + slot->bitmap_left;
            const int top = baseline - slot->bitmap_top;
            for (int row = 0; row < static_cast<int>(bitmap.rows); ++row) {
                const int y = top + row;
                if (y < 0 || y >= height) {
                    continue;
                }
                const unsigned char* from = bitmap.buffer + row * bitmap.pitch;
                for (int column = 0; column < static_cast<int>(bitmap.width); ++column) {
                    const int x = left + column;
                    if (x >= 0 && x < width) {
                        std::uint8_t& to = mask[static_cast<std::size_t>(y * width + x)];
                        to = std::max(to, static_cast<std::uint8_t>(from[column]));
                    }
                }
            }
        }
        pen += static_cast<int>((slot->advance.x + 32) >> 6);
        if (pen >= width) {
            break;
        }
    }
    return mask;
}

}  // namespace quillomir::wayland
