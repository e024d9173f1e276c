#include "frontend/terminal/input_decoder.h"

#include <charconv>

namespace vgps::term {
namespace {

constexpr char kEsc = '\x1b';

InputEvent key(InputEvent::Kind kind) {
    InputEvent e;
    e.kind = kind;
    return e;
}

// A finished CSI sequence: its parameter bytes and final byte.
size_t csi_length(std::string_view in) {
    // in starts with ESC [
    for (size_t i = 2; i < in.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (c >= 0x40 && c <= 0x7E) return i + 1;
        if (c < 0x20 || c > 0x3F) return i;  // not a CSI byte: the sequence is broken here
    }
    return 0;
}

std::vector<int> numbers(std::string_view params) {
    std::vector<int> out;
    size_t start = 0;
    while (start <= params.size()) {
        size_t end = params.find(';', start);
        if (end == std::string_view::npos) end = params.size();
        int value = 0;
        std::from_chars(params.data() + start, params.data() + end, value);
        out.push_back(value);
        start = end + 1;
    }
    return out;
}

// A mouse report's button byte: presses, releases and the wheel.
bool mouse_event(int code, int col, int line, bool release, InputEvent* e) {
    if ((code & 32) != 0) return false;  // motion
    e->col = col;
    e->line = line;
    if ((code & 64) != 0) {
        if (release) return false;
        e->kind = (code & 1) != 0 ? InputEvent::WheelDown : InputEvent::WheelUp;
        return true;
    }
    e->button = code & 3;
    e->kind = release || e->button == 3 ? InputEvent::MouseRelease : InputEvent::MousePress;
    if (e->button == 3) e->button = 0;
    return true;
}

void csi_event(std::string_view params, char final, std::vector<InputEvent>& out) {
    if (!params.empty() && params[0] == '<') {  // SGR mouse
        if (final != 'M' && final != 'm') return;
        const std::vector<int> n = numbers(params.substr(1));
        if (n.size() != 3) return;
        InputEvent e;
        if (mouse_event(n[0], n[1] - 1, n[2] - 1, final == 'm', &e)) out.push_back(e);
        return;
    }
    switch (final) {
        case 'A': out.push_back(key(InputEvent::Up)); return;
        case 'B': out.push_back(key(InputEvent::Down)); return;
        case 'C': out.push_back(key(InputEvent::Right)); return;
        case 'D': out.push_back(key(InputEvent::Left)); return;
        case 'H': out.push_back(key(InputEvent::Home)); return;
        case 'F': out.push_back(key(InputEvent::End)); return;
        case 'Z': out.push_back(key(InputEvent::BackTab)); return;
        case '~': break;
        default: return;  // focus reports, anything unknown
    }
    switch (numbers(params).front()) {
        case 1:
        case 7: out.push_back(key(InputEvent::Home)); return;
        case 4:
        case 8: out.push_back(key(InputEvent::End)); return;
        case 5: out.push_back(key(InputEvent::PageUp)); return;
        case 6: out.push_back(key(InputEvent::PageDown)); return;
        default: return;
    }
}

// The length of a UTF-8 sequence from its first byte (1 for a stray byte).
size_t utf8_length(unsigned char b) {
    if ((b & 0xE0) == 0xC0) return 2;
    if ((b & 0xF0) == 0xE0) return 3;
    if ((b & 0xF8) == 0xF0) return 4;
    return 1;
}

}  // namespace

size_t InputDecoder::decodeOne(std::string_view in, std::vector<InputEvent>& out) const {
    const unsigned char b = static_cast<unsigned char>(in[0]);
    if (b == static_cast<unsigned char>(kEsc)) {
        if (in.size() < 2) return 0;
        if (in[1] == '[') {
            if (in.size() >= 3 && in[2] == 'M') {  // X10 mouse: three more bytes
                if (in.size() < 6) return 0;
                InputEvent e;
                const int code = static_cast<unsigned char>(in[3]) - 32;
                const int col = static_cast<unsigned char>(in[4]) - 33, line = static_cast<unsigned char>(in[5]) - 33;
                if (mouse_event(code, col, line, false, &e)) out.push_back(e);
                return 6;
            }
            const size_t n = csi_length(in);
            if (n == 0) return 0;
            const char final = in[n - 1];
            if (static_cast<unsigned char>(final) >= 0x40) csi_event(in.substr(2, n - 3), final, out);
            return n;
        }
        if (in[1] == 'O') {  // SS3: cursor keys in application mode, F1-F4
            if (in.size() < 3) return 0;
            switch (in[2]) {
                case 'A': out.push_back(key(InputEvent::Up)); break;
                case 'B': out.push_back(key(InputEvent::Down)); break;
                case 'C': out.push_back(key(InputEvent::Right)); break;
                case 'D': out.push_back(key(InputEvent::Left)); break;
                case 'H': out.push_back(key(InputEvent::Home)); break;
                case 'F': out.push_back(key(InputEvent::End)); break;
                case 'M': out.push_back(key(InputEvent::Enter)); break;
                default: break;
            }
            return 3;
        }
        // ESC then something else: Escape, and the rest on its own.
        out.push_back(key(InputEvent::Escape));
        return 1;
    }
    switch (b) {
        case '\t': out.push_back(key(InputEvent::Tab)); return 1;
        case '\r':
        case '\n': out.push_back(key(InputEvent::Enter)); return 1;
        case 0x7F:
        case 0x08: out.push_back(key(InputEvent::Backspace)); return 1;
        default: break;
    }
    if (b < 0x20) {
        InputEvent e = key(InputEvent::Control);
        e.character = b;
        out.push_back(e);
        return 1;
    }
    const size_t n = utf8_length(b);
    if (n > in.size()) return 0;
    char32_t c = n == 1 ? b : b & (0xFF >> (n + 1));
    for (size_t i = 1; i < n; ++i) {
        const unsigned char cb = static_cast<unsigned char>(in[i]);
        if ((cb & 0xC0) != 0x80) return i;  // broken: dropped
        c = (c << 6) | (cb & 0x3F);
    }
    if (b >= 0x80 && n == 1) return 1;  // a stray continuation byte
    InputEvent e = key(InputEvent::Character);
    e.character = c;
    out.push_back(e);
    return n;
}

std::vector<InputEvent> InputDecoder::feed(std::string_view bytes) {
    pending_.append(bytes);
    std::vector<InputEvent> out;
    std::string_view in(pending_);
    size_t used = 0;
    while (used < in.size()) {
        const size_t n = decodeOne(in.substr(used), out);
        if (n == 0) break;
        used += n;
    }
    pending_.erase(0, used);
    // A sequence that never ends is not waited for past a sane length.
    if (pending_.size() > 64) pending_.clear();
    return out;
}

std::vector<InputEvent> InputDecoder::flush() {
    std::vector<InputEvent> out;
    if (!pending_.empty() && pending_[0] == kEsc) {
        out.push_back(key(InputEvent::Escape));
        std::string rest = pending_.substr(1);
        pending_.clear();
        // What followed the ESC is taken as typed ("ESC [" alone: nothing).
        if (!rest.empty() && rest[0] != '[' && rest[0] != 'O') {
            auto more = feed(rest);
            out.insert(out.end(), more.begin(), more.end());
        }
    }
    pending_.clear();
    return out;
}

}  // namespace vgps::term
