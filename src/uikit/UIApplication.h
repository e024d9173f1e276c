// The application: the run loop it runs on, its delegate, the screen, the
// key window, the queue of alerts and the animation blocks committed so
// far. It is also what a front-end talks to:
//
//   - setDisplayObserver: told once per run-loop turn in which something on
//     screen changed (after the layout pass), never from inside a change,
//     with the views that changed and those that were destroyed.
//   - keyWindow()->subviews()…: the view tree to draw; see UIView.h.
//   - tapAtPoint / touchDownAtPoint + touchUpAtPoint / tapView: a finger.
//   - tappables / activate: what a finger could tap, for keyboard focus.
//   - setScreenSize: the front-end's size in points; the window and the
//     screens are laid out again.
//   - dump: the whole window as one line of JSON.
//
// One application is current at a time: each one made becomes current, and
// the one before is current again when it goes away, so each test can make
// a fresh one. Code that asks for sharedApplication() when none exists
// gets a process-wide one on RunLoop::main().
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/run_loop.h"
#include "uikit/UIScreen.h"
#include "uikit/UIView.h"
#include "uikit/json_line.h"

namespace vgps {

class UIAlertView;
class UIApplication;
class UIControl;
class UITableViewCell;
class UIWindow;
class AlertPresenter;

// What changed since the front-end was last told.
struct UIDisplayChanges {
    // Views that changed themselves or their list of subviews (walk the
    // subviews of such a view anew: some may be new).
    std::set<UIView::Id> views;
    // The alert queue changed (an alert was shown or dismissed).
    bool alerts = false;
    // Views destroyed since (forget whatever was kept for them; the ids
    // never come again).
    std::set<UIView::Id> destroyed;
};

class UIDisplayObserver {
public:
    virtual ~UIDisplayObserver() = default;
    virtual void applicationNeedsDisplay(UIApplication* app, const UIDisplayChanges& changes) = 0;
};

// Launch options are never read; the type only completes the operation.
struct UIApplicationLaunchOptions {};

class UIApplicationDelegate {
public:
    virtual ~UIApplicationDelegate() = default;
    virtual bool application_didFinishLaunchingWithOptions(UIApplication* /*app*/,
                                                           const UIApplicationLaunchOptions* /*options*/) {
        return true;
    }
    virtual void applicationWillResignActive(UIApplication* /*app*/) {}
    virtual void applicationDidEnterBackground(UIApplication* /*app*/) {}
    virtual void applicationWillEnterForeground(UIApplication* /*app*/) {}
    virtual void applicationDidBecomeActive(UIApplication* /*app*/) {}
    virtual void applicationWillTerminate(UIApplication* /*app*/) {}
    virtual void applicationDidReceiveMemoryWarning(UIApplication* /*app*/) {}
};

// Something a finger could tap, in window coordinates.
struct UITappable {
    enum Kind {
        Control,          // a button, switch or segmented control (`view`)
        Row,              // a table row (`view` is its cell)
        AccessoryButton,  // the detail-disclosure button of a row (`view` is its cell)
        AlertButton,      // button `alertButton` of the alert on screen (`view` null)
    };
    Kind kind = Control;
    UIView* view = nullptr;
    int alertButton = -1;
    CGRect frame;
};

// A committed animation block.
struct UIAnimationRecord {
    std::optional<std::string> name;
    double duration = 0.2;
    void* context = nullptr;
};

class UIApplication {
public:
    // On `loop`, RunLoop::main() when null. Becomes the current application
    // and shows the alerts of platform/alert.h in its queue while it is.
    explicit UIApplication(RunLoop* loop = nullptr);
    ~UIApplication();
    UIApplication(const UIApplication&) = delete;
    UIApplication& operator=(const UIApplication&) = delete;

    static UIApplication* sharedApplication();
    // The current application, or null (never makes one).
    static UIApplication* current();

    RunLoop* runLoop() const { return loop_; }
    UIApplicationDelegate* delegate() const { return delegate_; }
    void setDelegate(UIApplicationDelegate* delegate) { delegate_ = delegate; }
    // Tells the delegate that launching has finished; its answer.
    bool launch();
    // Runs the run loop until stop() (or until nothing is left to wait for).
    void run();
    void stop() { loop_->stop(); }
    // Asks every loaded controller reached from the key window to free
    // what it can (controllers whose views are off screen unload them),
    // then tells the delegate.
    void didReceiveMemoryWarning();

    UIScreen* mainScreen() { return &screen_; }
    UIDevice* currentDevice() { return &device_; }
    // The front-end's size in points: the screen, then every window, and
    // what they hold, laid out again at once.
    void setScreenSize(CGSize size);
    UIWindow* keyWindow() const { return keyWindow_; }

    // --- display
    void setDisplayObserver(UIDisplayObserver* observer) { observer_ = observer; }
    // Lays out what asked for it, then tells the observer when something
    // changed. The run loop calls it before each wait.
    void displayIfNeeded();
    bool needsDisplay() const { return !changes_.views.empty() || changes_.alerts; }

    // --- alerts: the first is on screen until dismissed, then the next.
    const std::vector<std::shared_ptr<UIAlertView>>& alerts() const { return alerts_; }
    UIAlertView* visibleAlert() const { return alerts_.empty() ? nullptr : alerts_.front().get(); }

    // --- touches, at points of the key window. True when something took
    // the touch. While an alert is on screen only its buttons do.
    bool tapAtPoint(CGPoint point);
    bool touchDownAtPoint(CGPoint point);
    bool touchUpAtPoint(CGPoint point);
    // A tap in the middle of the view's visible part.
    bool tapView(UIView* view);
    // What a finger could tap now, in drawing order (rows before the
    // controls inside them); only the alert's buttons while one is shown.
    std::vector<UITappable> tappables();
    // Does what a tap on the thing would do.
    bool activate(const UITappable& tappable);

    // --- animation blocks committed so far, oldest first.
    const std::vector<UIAnimationRecord>& animations() const { return animations_; }

    // --- the dump: {"screens":[…],"alerts":[…],"window":VIEW or null}
    JSON dumpJSON() const;
    std::string dump() const { return json_line(dumpJSON()); }

    // --- for the toolkit's own classes
    void viewChanged(const UIView* view);
    void viewDestroyed(UIView::Id id);
    void setKeyWindow(UIWindow* window);
    void windowDestroyed(UIWindow* window);
    void enqueueAlert(std::shared_ptr<UIAlertView> alert);
    void removeAlert(const UIAlertView* alert);
    void beginAnimationBlock(const std::optional<std::string>& name, void* context);
    void setAnimationBlockDuration(double seconds);
    void commitAnimationBlock();
    // Keeps `object` alive until the next run-loop turn (a screen popped
    // from inside its own code).
    void releaseLater(std::shared_ptr<void> object) { releasePool_.push_back(std::move(object)); }

private:
    // Where a touch lands: the control or the row, and the point in the
    // cell for rows (to tell the accessory from the row).
    struct TouchTarget {
        UIControl* control = nullptr;
        UITableViewCell* cell = nullptr;
        CGPoint pointInView;
    };
    TouchTarget targetAt(CGPoint point) const;
    static TouchTarget targetFrom(UIView* view, CGPoint windowPoint);
    bool inKeyWindow(const UIView* view) const;
    void tapCell(UITableViewCell* cell, CGPoint pointInCell);
    void layoutBeforeTouch();
    void beforeWait();
    bool alertButtonAt(CGPoint point, int* index) const;
    void collectTappables(UIView* view, CGRect clip, std::vector<UITappable>& out) const;

    RunLoop* loop_;
    RunLoop::ObserverId hook_ = 0;
    UIApplication* previous_;
    AlertPresenter* previousPresenter_ = nullptr;
    std::unique_ptr<AlertPresenter> presenter_;
    UIApplicationDelegate* delegate_ = nullptr;
    UIScreen screen_;
    UIDevice device_;
    UIWindow* keyWindow_ = nullptr;
    std::vector<UIWindow*> windows_;
    UIDisplayObserver* observer_ = nullptr;
    UIDisplayChanges changes_;
    std::vector<std::shared_ptr<UIAlertView>> alerts_;
    std::vector<UIAnimationRecord> animations_;
    std::vector<UIAnimationRecord> openBlocks_;
    TouchTarget tracking_;
    UIView::Id trackingId_ = 0;  // 0: no finger down on anything
    std::vector<std::shared_ptr<void>> releasePool_;
};

// Makes the application's delegate `delegate`, launches, and runs the run
// loop until the application stops. 0 when the launch succeeded, 1 when
// the delegate refused it.
int UIApplicationMain(UIApplication* app, UIApplicationDelegate* delegate);

}  // namespace vgps
