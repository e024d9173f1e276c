// Alerts: a title, a message and buttons, handed to the presenter of the
// current front-end. Without a front-end of its own the program uses the
// headless presenter, which records each alert and prints it as one line.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vgps {

class AlertView;

// Told which button closed the alert (0 is the cancel button).
class AlertViewDelegate {
public:
    virtual ~AlertViewDelegate() = default;
    virtual void alertView_clickedButtonAtIndex(AlertView* alert, int index) = 0;
};

class AlertView {
public:
    AlertView(std::string title, std::string message, AlertViewDelegate* delegate, std::string cancelButtonTitle,
              std::vector<std::string> otherButtonTitles = {});

    const std::string& title() const { return title_; }
    const std::string& message() const { return message_; }
    const std::string& cancelButtonTitle() const { return cancel_; }
    const std::vector<std::string>& otherButtonTitles() const { return others_; }
    AlertViewDelegate* delegate() const { return delegate_; }

    // Hands the alert to the current presenter.
    void show();
    // Closes the alert as if the button at `index` had been pressed.
    void dismissWithClickedButtonIndex(int index);

private:
    std::string title_;
    std::string message_;
    AlertViewDelegate* delegate_;  // not owned
    std::string cancel_;
    std::vector<std::string> others_;
};

class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    virtual void present(const AlertView& alert) = 0;
};

// Records every alert and, when given a stream, prints it as one line:
//   alert "<title>" "<message>" [<cancel>] [<other>]...
// with the texts JSON-escaped.
class HeadlessAlertPresenter : public AlertPresenter {
public:
    explicit HeadlessAlertPresenter(FILE* out = nullptr) : out_(out) {}
    void present(const AlertView& alert) override;

    struct Record {
        std::string title, message, cancel;
        std::vector<std::string> others;
        bool has_delegate;
    };
    std::vector<Record> alerts() const;

    static std::string format_line(const AlertView& alert);

private:
    FILE* out_;
    mutable std::mutex mutex_;
    std::vector<Record> alerts_;
};

// Installs the presenter used by show() (not owned; null restores the
// default headless presenter, which prints to stderr). Returns the previous.
AlertPresenter* set_alert_presenter(AlertPresenter* presenter);

// Quotes a text as a JSON string: "..." with \" \\ and control characters
// escaped. Bytes of 0x80 and above pass through unchanged.
std::string quote_text(const std::string& text);

}  // namespace vgps
