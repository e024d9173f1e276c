// The terminal front-end: shows the application's key window in a
// terminal through ncurses and turns keys and mouse clicks into the
// toolkit's taps (TerminalController). Everything runs on the
// application's run loop: the terminal's input and its size changes
// (SIGWINCH, through a pipe) are run-loop sources, the screen is drawn
// once per turn in which something changed, and the only timers are a
// turning spinner's (while one is on screen) and the wait after a lone
// Escape byte. Idle, nothing wakes the process.
//
// start() takes the terminal over (alternate screen, raw keys, mouse
// reports); stop() - also called by the destructor, at exit() and when the
// process aborts - gives it back as it was.
#pragma once

#include <termios.h>

#include <functional>
#include <memory>
#include <string>

#include "frontend/terminal/input_decoder.h"
#include "frontend/terminal/terminal_controller.h"
#include "platform/run_loop.h"
#include "uikit/UIApplication.h"

namespace vgps::term {

class TerminalFrontEnd : public UIDisplayObserver {
public:
    // How often a turning spinner moves on.
    static constexpr int kSpinnerFrameMs = 100;
    // How long a lone Escape byte waits for the rest of a sequence.
    static constexpr int kEscapeWaitMs = 30;

    explicit TerminalFrontEnd(UIApplication* app);
    ~TerminalFrontEnd() override;
    TerminalFrontEnd(const TerminalFrontEnd&) = delete;
    TerminalFrontEnd& operator=(const TerminalFrontEnd&) = delete;

    // Both descriptors are terminals (and TERM names a terminal type).
    static bool usable(int in, int out);
    // Takes the terminal over and starts showing the key window. Sets the
    // process's character type from the environment (LC_ALL, LC_CTYPE,
    // LANG): UTF-8 terminals get Unicode glyphs, others plain ASCII.
    // False, with a log line, when it cannot.
    bool start(int in = 0, int out = 1);
    // Gives the terminal back: normal screen, keys and mouse as before.
    void stop();
    bool running() const { return running_; }

    // Called when a person asks to quit (q, Ctrl-C) or the terminal goes
    // away (end of input).
    void setQuitHandler(std::function<void()> handler);
    void applicationNeedsDisplay(UIApplication* app, const UIDisplayChanges& changes) override;

    TerminalController* controller() { return controller_.get(); }
    // Draws the window and brings the terminal up to date now.
    void redraw();
    // Every turning spinner's timer so far, for measurements.
    uint64_t spinnerTicks() const { return spinnerTicks_; }

private:
    struct Curses;
    void onInput();
    void onResize();
    void present();
    void updateSpinnerTimer();
    void quit();

    UIApplication* app_;
    RunLoop* loop_;
    std::unique_ptr<TerminalController> controller_;
    std::unique_ptr<Curses> curses_;
    InputDecoder decoder_;
    std::function<void()> onQuit_;
    bool running_ = false;
    int in_ = -1, out_ = -1;
    RunLoop::SourceId inputSource_ = 0, resizeSource_ = 0;
    RunLoop::ObserverId observer_ = 0;
    RunLoop::TimerId spinnerTimer_ = 0, escapeTimer_ = 0;
    uint64_t spinnerTicks_ = 0;
};

}  // namespace vgps::term
