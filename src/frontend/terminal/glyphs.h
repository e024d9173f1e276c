// The characters the terminal front-end draws with: box lines, the images'
// glyphs, the switch, the spinner's frames, the pin. One set for terminals
// that speak UTF-8, one in plain ASCII for those that do not.
#pragma once

#include <array>
#include <string>

namespace vgps::term {

// Directions of a line through a cell, combined into one box glyph.
enum LineDirection : unsigned char { kLineUp = 1, kLineRight = 2, kLineDown = 4, kLineLeft = 8 };

struct Glyphs {
    bool unicode = true;
    // By direction bits (kLineUp | kLineRight…); rounded corners apart.
    std::array<char32_t, 16> lines{};
    char32_t roundDownRight = 0, roundDownLeft = 0, roundUpRight = 0, roundUpLeft = 0;
    std::u32string ellipsis;
    // Images, by their file names.
    char32_t checkMark = 0;      // "checked.png"
    char32_t ribbon = 0;         // "bookmark-ribbon-small.png"
    char32_t ribbonOutline = 0;  // "bookmark-PDF.png"
    char32_t otherImage = 0;     // any other image
    std::u32string spinner;      // frames, one character each
    std::u32string switchOn, switchOff;
    std::u32string detailButton;  // the detail-disclosure accessory
    char32_t disclosure = 0;      // the disclosure-indicator accessory
    std::u32string backPrefix;    // before the back button's title
    char32_t pin = 0;
    char32_t replacement = 0;  // for what cannot be shown
    bool braille = true;       // map dots as Braille patterns
    char32_t mapDot = 0;       // the map's dots without Braille
    char32_t trackDot = 0;

    static const Glyphs& unicodeSet();
    static const Glyphs& asciiSet();
    // The set for the current locale (LC_CTYPE): Unicode when it is UTF-8.
    static const Glyphs& forLocale();

    char32_t lineGlyph(unsigned mask, bool rounded) const;
    char32_t imageGlyph(const std::string& imageName) const;
};

}  // namespace vgps::term
