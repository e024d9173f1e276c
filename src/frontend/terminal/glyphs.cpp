#include "frontend/terminal/glyphs.h"

#include <langinfo.h>

#include <cstring>

namespace vgps::term {
namespace {

Glyphs make_unicode() {
    Glyphs g;
    g.unicode = true;
    //           0     U      R      UR     D      UD     RD     URD
    g.lines = {U' ', U'│', U'─', U'└', U'│', U'│', U'┌', U'├',
               //  L      UL     RL     URL    DL     UDL    RDL    all
               U'─', U'┘', U'─', U'┴', U'┐', U'┤', U'┬', U'┼'};
    g.roundDownRight = U'╭';
    g.roundDownLeft = U'╮';
    g.roundUpRight = U'╰';
    g.roundUpLeft = U'╯';
    g.ellipsis = U"…";
    g.checkMark = U'✓';
    g.ribbon = U'★';
    g.ribbonOutline = U'☆';
    g.otherImage = U'▪';
    g.spinner = U"⠋⠙⠹⠸⠼⠴⠦⠧⠇⠏";
    g.switchOn = U"[ ON ● ]";
    g.switchOff = U"[ ○ OFF]";
    g.detailButton = U"(>)";
    g.disclosure = U'›';
    g.backPrefix = U"< ";
    g.pin = U'●';
    g.replacement = U'\uFFFD';
    g.braille = true;
    g.mapDot = U'·';
    g.trackDot = U'•';
    return g;
}

Glyphs make_ascii() {
    Glyphs g;
    g.unicode = false;
    g.lines = {U' ', U'|', U'-', U'+', U'|', U'|', U'+', U'+', U'-', U'+', U'-', U'+', U'+', U'+', U'+', U'+'};
    g.roundDownRight = g.roundDownLeft = g.roundUpRight = g.roundUpLeft = U'+';
    g.ellipsis = U"~";
    g.checkMark = U'v';
    g.ribbon = U'*';
    g.ribbonOutline = U'o';
    g.otherImage = U'#';
    g.spinner = U"|/-\\";
    g.switchOn = U"[ ON * ]";
    g.switchOff = U"[ o OFF]";
    g.detailButton = U"(>)";
    g.disclosure = U'>';
    g.backPrefix = U"< ";
    g.pin = U'@';
    g.replacement = U'?';
    g.braille = false;
    g.mapDot = U'.';
    g.trackDot = U'o';
    return g;
}

}  // namespace

const Glyphs& Glyphs::unicodeSet() {
    static const Glyphs set = make_unicode();
    return set;
}

const Glyphs& Glyphs::asciiSet() {
    static const Glyphs set = make_ascii();
    return set;
}

const Glyphs& Glyphs::forLocale() {
    const char* codeset = nl_langinfo(CODESET);
    const bool utf8 = codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
    return utf8 ? unicodeSet() : asciiSet();
}

char32_t Glyphs::lineGlyph(unsigned mask, bool rounded) const {
    mask &= 15;
    if (rounded) {
        if (mask == (kLineDown | kLineRight)) return roundDownRight;
        if (mask == (kLineDown | kLineLeft)) return roundDownLeft;
        if (mask == (kLineUp | kLineRight)) return roundUpRight;
        if (mask == (kLineUp | kLineLeft)) return roundUpLeft;
    }
    return lines[mask];
}

char32_t Glyphs::imageGlyph(const std::string& imageName) const {
    if (imageName == "checked.png") return checkMark;
    if (imageName == "bookmark-ribbon-small.png") return ribbon;
    if (imageName == "bookmark-PDF.png") return ribbonOutline;
    return otherImage;
}

}  // namespace vgps::term
