// Turns the bytes a terminal sends into keys and mouse events: printable
// characters, control keys, the escape sequences of cursor and paging keys
// (both cursor-key modes), Shift-Tab, and mouse reports in the SGR form
// (ESC [ < b ; x ; y M/m) and the older X10 form (ESC [ M b x y). A lone
// Escape cannot be told from the start of a sequence until more bytes come
// or some time passes: pending() says so, and flush() ends the wait.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vgps::term {

struct InputEvent {
    enum Kind {
        Character,  // `character`: a printable character (UTF-8 decoded)
        Control,    // `character`: a control byte without a key of its own (Ctrl-L is 0x0c)
        Tab,
        BackTab,
        Enter,
        Escape,
        Backspace,
        Up,
        Down,
        Left,
        Right,
        PageUp,
        PageDown,
        Home,
        End,
        MousePress,
        MouseRelease,
        WheelUp,
        WheelDown,
    };
    Kind kind = Character;
    char32_t character = 0;
    int col = 0, line = 0;  // mouse events: the cell, from 0
    int button = 0;         // mouse presses: 0 left, 1 middle, 2 right

    bool operator==(const InputEvent&) const = default;
};

class InputDecoder {
public:
    // Decodes what it can; an unfinished sequence is kept for the next call.
    std::vector<InputEvent> feed(std::string_view bytes);
    // Bytes are waiting for the rest of a sequence.
    bool pending() const { return !pending_.empty(); }
    // No more is coming: a lone ESC is the Escape key; the rest is dropped.
    std::vector<InputEvent> flush();

private:
    // Decodes one event (or none) from the front of `in`; the bytes used,
    // or 0 when the sequence is unfinished.
    size_t decodeOne(std::string_view in, std::vector<InputEvent>& out) const;

    std::string pending_;
};

}  // namespace vgps::term
