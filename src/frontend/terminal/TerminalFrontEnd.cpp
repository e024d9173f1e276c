#include "frontend/terminal/TerminalFrontEnd.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "platform/log.h"

// Last: its macros (clear, erase, …) must not meet the headers above.
#include <curses.h>

namespace vgps::term {
namespace {

constexpr const char* kMouseOn = "\x1b[?1000h\x1b[?1006h";
constexpr const char* kMouseOff = "\x1b[?1006l\x1b[?1000l";
constexpr size_t kHeldLogLines = 2000;

int g_winch_pipe[2] = {-1, -1};

void on_winch(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_winch_pipe[1], &byte, 1);
    errno = saved;
}

// What an aborting process writes to give the terminal back, without
// ncurses (only async-signal-safe calls).
struct CrashRestore {
    volatile sig_atomic_t armed = 0;
    int in = -1, out = -1;
    struct termios saved {};
    std::array<char, 256> sequence{};
    size_t length = 0;
    struct sigaction previous {};
};
CrashRestore g_crash;

void on_abort(int sig) {
    if (g_crash.armed != 0) {
        [[maybe_unused]] ssize_t n = ::write(g_crash.out, g_crash.sequence.data(), g_crash.length);
        ::tcsetattr(g_crash.in, TCSANOW, &g_crash.saved);
    }
    ::sigaction(SIGABRT, &g_crash.previous, nullptr);
    ::raise(sig);
}

TerminalFrontEnd* g_active = nullptr;

void restore_at_exit() {
    if (g_active != nullptr) g_active->stop();
}

void write_all(int fd, const char* text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(fd, text, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

// A terminal capability's text, or "" when the terminal has none.
std::string capability(const char* name) {
    char* value = tigetstr(name);
    if (value == nullptr || value == reinterpret_cast<char*>(-1)) return {};
    return value;
}

}  // namespace

// ncurses and what the front-end keeps of the terminal.
struct TerminalFrontEnd::Curses {
    SCREEN* screen = nullptr;
    FILE* outFile = nullptr;
    FILE* inFile = nullptr;
    struct termios saved {};
    struct sigaction oldWinch {};
    bool colour = false;
    bool defaultColours = false;
    std::array<bool, 100> pairs{};
    ScreenBuffer shown;  // what the terminal holds
    // Log lines held while the terminal is ours (stderr is the terminal).
    bool holdingLog = false;
    LogSink previousSink;
    std::deque<std::string> heldLog;
    size_t droppedLog = 0;

    short pairFor(Color fg, Color bg) {
        const int f = static_cast<int>(fg) + 1, b = static_cast<int>(bg) + 1;
        const short index = static_cast<short>(1 + f + 9 * b);
        if (!pairs[static_cast<size_t>(index)]) {
            const auto colour_of = [this](Color c, short fallback) {
                return c == Color::Default ? (defaultColours ? short(-1) : fallback) : static_cast<short>(c);
            };
            init_pair(index, colour_of(fg, COLOR_WHITE), colour_of(bg, COLOR_BLACK));
            pairs[static_cast<size_t>(index)] = true;
        }
        return index;
    }

    void put(int col, int line, const Cell& cell) {
        attr_t attrs = 0;
        const uint8_t a = cell.attrs();
        if ((a & kBold) != 0) attrs |= A_BOLD;
        if ((a & kDim) != 0) attrs |= A_DIM;
        if ((a & kUnderline) != 0) attrs |= A_UNDERLINE;
        bool reverse = (a & kReverse) != 0;
        // Without colours a painted background shows in reverse video.
        if (!colour && cell.bg != Color::Default) reverse = !reverse;
        if (reverse) attrs |= A_REVERSE;
        const short pair = colour ? pairFor(cell.fg, cell.bg) : 0;
        const wchar_t text[2] = {static_cast<wchar_t>(cell.glyph), L'\0'};
        cchar_t cc;
        setcchar(&cc, text, attrs, pair, nullptr);
        mvwadd_wch(stdscr, line, col, &cc);
    }

    void blit(const ScreenBuffer& buffer) {
        const bool full = shown.cols() != buffer.cols() || shown.lines() != buffer.lines();
        for (int l = 0; l < buffer.lines(); ++l) {
            for (int c = 0; c < buffer.cols(); ++c) {
                const Cell& cell = buffer.at(c, l);
                if ((cell.flags & Cell::kWideTail) != 0) continue;
                if (!full && shown.at(c, l) == cell) {
                    // A wide glyph's tail changing alone redraws the glyph.
                    if (c + 1 >= buffer.cols() || shown.at(c + 1, l) == buffer.at(c + 1, l)) continue;
                }
                put(c, l, cell);
            }
        }
        shown = buffer;
    }
};

TerminalFrontEnd::TerminalFrontEnd(UIApplication* app) : app_(app), loop_(app->runLoop()) {}

TerminalFrontEnd::~TerminalFrontEnd() { stop(); }

bool TerminalFrontEnd::usable(int in, int out) {
    const char* term = std::getenv("TERM");
    return ::isatty(in) == 1 && ::isatty(out) == 1 && term != nullptr && *term != '\0' &&
           std::strcmp(term, "dumb") != 0;
}

void TerminalFrontEnd::setQuitHandler(std::function<void()> handler) { onQuit_ = std::move(handler); }

bool TerminalFrontEnd::start(int in, int out) {
    if (running_) return true;
    if (!usable(in, out)) {
        log_error("<%s> standard input and output are not a terminal (or TERM is not set)",
                  "-[TerminalFrontEnd start]");
        return false;
    }
    std::setlocale(LC_CTYPE, "");
    const Glyphs& glyphs = Glyphs::forLocale();
    controller_ = std::make_unique<TerminalController>(app_, glyphs);
    controller_->setQuitHandler([this] { quit(); });
    curses_ = std::make_unique<Curses>();
    in_ = in;
    out_ = out;
    ::tcgetattr(in, &curses_->saved);

    // Size changes come through a pipe; installed before ncurses, which then
    // leaves SIGWINCH alone.
    if (g_winch_pipe[0] < 0 && ::pipe2(g_winch_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        log_error("<%s> cannot make a pipe: %s", "-[TerminalFrontEnd start]", std::strerror(errno));
        return false;
    }
    struct sigaction sa {};
    sa.sa_handler = on_winch;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGWINCH, &sa, &curses_->oldWinch);

    const int inCopy = ::fcntl(in, F_DUPFD_CLOEXEC, 3), outCopy = ::fcntl(out, F_DUPFD_CLOEXEC, 3);
    curses_->inFile = inCopy >= 0 ? ::fdopen(inCopy, "r") : nullptr;
    curses_->outFile = outCopy >= 0 ? ::fdopen(outCopy, "w") : nullptr;
    if (curses_->inFile != nullptr && curses_->outFile != nullptr) {
        curses_->screen = newterm(nullptr, curses_->outFile, curses_->inFile);
    }
    if (curses_->screen == nullptr) {
        log_error("<%s> cannot use the terminal \"%s\"", "-[TerminalFrontEnd start]", std::getenv("TERM"));
        ::sigaction(SIGWINCH, &curses_->oldWinch, nullptr);
        if (curses_->inFile != nullptr) std::fclose(curses_->inFile);
        if (curses_->outFile != nullptr) std::fclose(curses_->outFile);
        if (curses_->inFile == nullptr && inCopy >= 0) ::close(inCopy);
        if (curses_->outFile == nullptr && outCopy >= 0) ::close(outCopy);
        curses_.reset();
        return false;
    }
    set_term(curses_->screen);
    raw();
    noecho();
    nonl();
    intrflush(stdscr, FALSE);
    leaveok(stdscr, TRUE);
    curs_set(0);
    const char* noColour = std::getenv("NO_COLOR");
    if (has_colors() && (noColour == nullptr || *noColour == '\0') && start_color() == OK && COLORS >= 8 &&
        COLOR_PAIRS >= static_cast<int>(curses_->pairs.size())) {
        curses_->colour = true;
        curses_->defaultColours = use_default_colors() == OK;
    }

    // Giving the terminal back if the process aborts.
    const std::string reset = std::string(kMouseOff) + capability("sgr0") + capability("cnorm") + capability("rmcup");
    g_crash.length = std::min(reset.size(), g_crash.sequence.size());
    std::memcpy(g_crash.sequence.data(), reset.data(), g_crash.length);
    g_crash.in = in;
    g_crash.out = out;
    g_crash.saved = curses_->saved;
    struct sigaction abortAction {};
    abortAction.sa_handler = on_abort;
    sigemptyset(&abortAction.sa_mask);
    ::sigaction(SIGABRT, &abortAction, &g_crash.previous);
    g_crash.armed = 1;
    static bool atExitInstalled = false;
    if (!atExitInstalled) atExitInstalled = std::atexit(restore_at_exit) == 0;
    g_active = this;

    // Log lines would land on the screen: while stderr is this terminal
    // they are held and written out when the terminal is given back.
    if (::isatty(2) == 1) {
        curses_->holdingLog = true;
        Curses* c = curses_.get();
        curses_->previousSink = set_log_sink([c](std::string_view line) {
            if (c->heldLog.size() >= kHeldLogLines) {
                c->heldLog.pop_front();
                ++c->droppedLog;
            }
            c->heldLog.emplace_back(line);
        });
    }

    write_all(out, kMouseOn);
    running_ = true;
    struct winsize ws {};
    int cols = COLS, lines = LINES;
    if (::ioctl(out, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) cols = ws.ws_col, lines = ws.ws_row;
    resizeterm(lines, cols);
    controller_->setSize(cols, lines);

    inputSource_ = loop_->add_source(in, [this] { onInput(); });
    resizeSource_ = loop_->add_source(g_winch_pipe[0], [this] { onResize(); });
    observer_ = loop_->add_before_wait_observer([this] {
        if (running_ && controller_->needsRender()) present();
    });
    app_->setDisplayObserver(this);
    present();
    return true;
}

void TerminalFrontEnd::stop() {
    if (!running_) return;
    running_ = false;
    loop_->remove_source(inputSource_);
    loop_->remove_source(resizeSource_);
    loop_->remove_before_wait_observer(observer_);
    if (spinnerTimer_ != 0) loop_->cancel_timer(spinnerTimer_);
    if (escapeTimer_ != 0) loop_->cancel_timer(escapeTimer_);
    spinnerTimer_ = escapeTimer_ = 0;
    app_->setDisplayObserver(nullptr);

    write_all(out_, kMouseOff);
    endwin();
    delscreen(curses_->screen);
    std::fclose(curses_->outFile);
    std::fclose(curses_->inFile);
    ::tcsetattr(in_, TCSANOW, &curses_->saved);
    ::sigaction(SIGWINCH, &curses_->oldWinch, nullptr);
    g_crash.armed = 0;
    ::sigaction(SIGABRT, &g_crash.previous, nullptr);
    if (g_active == this) g_active = nullptr;

    if (curses_->holdingLog) {
        set_log_sink(std::move(curses_->previousSink));
        if (curses_->droppedLog > 0) {
            log_error("<%s> %zu earlier log lines were dropped", "-[TerminalFrontEnd stop]", curses_->droppedLog);
        }
        for (const std::string& line : curses_->heldLog) log_error("%s", line.c_str());
    }
    curses_.reset();
}

void TerminalFrontEnd::quit() {
    if (onQuit_) onQuit_();
}

void TerminalFrontEnd::onInput() {
    char bytes[512];
    const ssize_t n = ::read(in_, bytes, sizeof bytes);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        // The terminal went away: nobody is left to ask.
        loop_->set_source_enabled(inputSource_, false);
        quit();
        return;
    }
    if (escapeTimer_ != 0) {
        loop_->cancel_timer(escapeTimer_);
        escapeTimer_ = 0;
    }
    for (const InputEvent& e : decoder_.feed({bytes, static_cast<size_t>(n)})) {
        controller_->handle(e);
        if (!running_) return;
    }
    if (decoder_.pending()) {
        escapeTimer_ = loop_->add_timer(std::chrono::milliseconds(kEscapeWaitMs), [this] {
            escapeTimer_ = 0;
            for (const InputEvent& e : decoder_.flush()) {
                controller_->handle(e);
                if (!running_) return;
            }
        });
    }
}

void TerminalFrontEnd::onResize() {
    char drain[64];
    while (::read(g_winch_pipe[0], drain, sizeof drain) > 0) {
    }
    struct winsize ws {};
    if (::ioctl(out_, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return;
    resizeterm(ws.ws_row, ws.ws_col);
    controller_->setSize(ws.ws_col, ws.ws_row);
    curses_->shown = ScreenBuffer();
    clearok(curscr, TRUE);
    present();
}

void TerminalFrontEnd::applicationNeedsDisplay(UIApplication* /*app*/, const UIDisplayChanges& changes) {
    if (!running_) return;
    controller_->viewsDestroyed(changes.destroyed);
    present();
}

void TerminalFrontEnd::redraw() { present(); }

void TerminalFrontEnd::present() {
    if (!running_) return;
    const ScreenBuffer& buffer = controller_->render();
    if (controller_->takeRepaintRequest()) {
        clearok(curscr, TRUE);
        curses_->shown = ScreenBuffer();
    }
    curses_->blit(buffer);
    wnoutrefresh(stdscr);
    doupdate();
    updateSpinnerTimer();
}

void TerminalFrontEnd::updateSpinnerTimer() {
    if (controller_->spinnersTurning()) {
        if (spinnerTimer_ == 0) {
            spinnerTimer_ = loop_->add_timer(std::chrono::milliseconds(kSpinnerFrameMs), [this] {
                spinnerTimer_ = 0;
                ++spinnerTicks_;
                controller_->advanceSpinner();
            });
        }
    } else if (spinnerTimer_ != 0) {
        loop_->cancel_timer(spinnerTimer_);
        spinnerTimer_ = 0;
    }
}

}  // namespace vgps::term
