#include "uikit/UIApplication.h"

#include <algorithm>

#include "platform/alert.h"
#include "platform/device_info.h"
#include "platform/log.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

namespace vgps {
namespace {

UIApplication* g_current = nullptr;

std::optional<std::string> absent_if_empty(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

// Tells the platform alert's own delegate which button closed it, through
// a copy of the alert (the one shown may be gone by then).
class PlatformAlertDelegate : public UIAlertViewDelegate {
public:
    explicit PlatformAlertDelegate(const AlertView& alert) : alert_(alert) {}
    void alertView_clickedButtonAtIndex(UIAlertView* /*alertView*/, int index) override {
        alert_.dismissWithClickedButtonIndex(index);
    }

private:
    AlertView alert_;
};

}  // namespace

// Shows the engine's alerts (platform/alert.h) in the application's queue.
class KitAlertPresenter : public AlertPresenter {
public:
    explicit KitAlertPresenter(UIApplication* app) : app_(app) {}
    void present(const AlertView& alert) override {
        std::shared_ptr<PlatformAlertDelegate> delegate;
        if (alert.delegate() != nullptr) delegate = std::make_shared<PlatformAlertDelegate>(alert);
        auto view = UIAlertView::initWithTitle_message_delegate_cancelButtonTitle_otherButtonTitles(
            absent_if_empty(alert.title()), absent_if_empty(alert.message()), delegate.get(),
            absent_if_empty(alert.cancelButtonTitle()), alert.otherButtonTitles());
        view->ownedDelegate_ = std::move(delegate);
        app_->enqueueAlert(std::move(view));
    }

private:
    UIApplication* app_;
};

UIScreen* UIScreen::mainScreen() { return UIApplication::sharedApplication()->mainScreen(); }

UIDevice* UIDevice::currentDevice() { return UIApplication::sharedApplication()->currentDevice(); }

std::string UIDevice::model() const { return device_model(); }

UIApplication::UIApplication(RunLoop* loop) : loop_(loop != nullptr ? loop : RunLoop::main()), previous_(g_current) {
    g_current = this;
    presenter_ = std::make_unique<KitAlertPresenter>(this);
    previousPresenter_ = set_alert_presenter(presenter_.get());
    hook_ = loop_->add_before_wait_observer([this] { beforeWait(); });
}

UIApplication::~UIApplication() {
    loop_->remove_before_wait_observer(hook_);
    set_alert_presenter(previousPresenter_);
    for (UIWindow* window : windows_) window->app_ = nullptr;
    for (auto& alert : alerts_) alert->queued_ = false;
    if (g_current == this) g_current = previous_;
}

UIApplication* UIApplication::sharedApplication() {
    if (g_current == nullptr) {
        static UIApplication* process_wide = new UIApplication();
        return process_wide;
    }
    return g_current;
}

UIApplication* UIApplication::current() { return g_current; }

bool UIApplication::launch() {
    if (delegate_ == nullptr) return true;
    return delegate_->application_didFinishLaunchingWithOptions(this, nullptr);
}

void UIApplication::run() { loop_->run(); }

int UIApplicationMain(UIApplication* app, UIApplicationDelegate* delegate) {
    app->setDelegate(delegate);
    if (!app->launch()) return 1;
    app->displayIfNeeded();
    app->run();
    if (delegate != nullptr) delegate->applicationWillTerminate(app);
    return 0;
}

void UIApplication::didReceiveMemoryWarning() {
    for (UIWindow* window : std::vector<UIWindow*>(windows_)) {
        for (const auto& view : std::vector<std::shared_ptr<UIView>>(window->subviews())) {
            if (UIViewController* controller = view->viewController()) controller->didReceiveMemoryWarning();
        }
    }
    if (delegate_ != nullptr) delegate_->applicationDidReceiveMemoryWarning(this);
}

void UIApplication::setScreenSize(CGSize size) {
    size.width = std::max(0.0, size.width);
    size.height = std::max(UIScreen::kStatusBarHeight, size.height);
    if (screen_.size_ == size) return;
    screen_.size_ = size;
    for (UIWindow* window : windows_) {
        window->setFrame(screen_.bounds());
        window->layoutIfNeeded();
    }
    changes_.alerts = changes_.alerts || !alerts_.empty();  // alerts are centred on the screen
}

// --- display

void UIApplication::beforeWait() {
    releasePool_.clear();
    displayIfNeeded();
}

void UIApplication::displayIfNeeded() {
    for (UIWindow* window : std::vector<UIWindow*>(windows_)) window->layoutIfNeeded();
    if (!needsDisplay()) return;
    UIDisplayChanges changes = std::move(changes_);
    changes_ = {};
    if (observer_ != nullptr) observer_->applicationNeedsDisplay(this, changes);
}

void UIApplication::viewChanged(const UIView* view) { changes_.views.insert(view->viewId()); }

void UIApplication::viewDestroyed(UIView::Id id) {
    if (trackingId_ == id) trackingId_ = 0;
    if (observer_ == nullptr) return;
    changes_.views.erase(id);
    changes_.destroyed.insert(id);
}

void UIApplication::setKeyWindow(UIWindow* window) {
    if (std::find(windows_.begin(), windows_.end(), window) == windows_.end()) windows_.push_back(window);
    window->app_ = this;
    keyWindow_ = window;
}

void UIApplication::windowDestroyed(UIWindow* window) {
    std::erase(windows_, window);
    if (keyWindow_ == window) keyWindow_ = nullptr;
}

// --- alerts

void UIApplication::enqueueAlert(std::shared_ptr<UIAlertView> alert) {
    alert->queued_ = true;
    alerts_.push_back(std::move(alert));
    changes_.alerts = true;
}

void UIApplication::removeAlert(const UIAlertView* alert) {
    auto it = std::find_if(alerts_.begin(), alerts_.end(), [alert](const auto& a) { return a.get() == alert; });
    if (it == alerts_.end()) return;
    releasePool_.push_back(*it);  // the alert's own call is still under way
    alerts_.erase(it);
    changes_.alerts = true;
}

// --- animation blocks

void UIApplication::beginAnimationBlock(const std::optional<std::string>& name, void* context) {
    openBlocks_.push_back({name, 0.2, context});
}

void UIApplication::setAnimationBlockDuration(double seconds) {
    if (!openBlocks_.empty()) openBlocks_.back().duration = seconds;
}

void UIApplication::commitAnimationBlock() {
    if (openBlocks_.empty()) {
        log_error("<%s> no animation block to commit", "+[UIView commitAnimations]");
        return;
    }
    animations_.push_back(std::move(openBlocks_.back()));
    openBlocks_.pop_back();
}

}  // namespace vgps
