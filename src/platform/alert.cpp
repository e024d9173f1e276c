#include "platform/alert.h"

namespace vgps {
namespace {

AlertPresenter* default_presenter() {
    static HeadlessAlertPresenter* presenter = new HeadlessAlertPresenter(stderr);
    return presenter;
}

AlertPresenter* g_presenter = nullptr;

}  // namespace

AlertView::AlertView(std::string title, std::string message, AlertViewDelegate* delegate,
                     std::string cancelButtonTitle, std::vector<std::string> otherButtonTitles)
    : title_(std::move(title)),
      message_(std::move(message)),
      delegate_(delegate),
      cancel_(std::move(cancelButtonTitle)),
      others_(std::move(otherButtonTitles)) {}

void AlertView::show() { (g_presenter ? g_presenter : default_presenter())->present(*this); }

void AlertView::dismissWithClickedButtonIndex(int index) {
    if (delegate_ != nullptr) delegate_->alertView_clickedButtonAtIndex(this, index);
}

AlertPresenter* set_alert_presenter(AlertPresenter* presenter) {
    AlertPresenter* previous = g_presenter;
    g_presenter = presenter;
    return previous;
}

std::string quote_text(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

std::string HeadlessAlertPresenter::format_line(const AlertView& alert) {
    std::string line = "alert " + quote_text(alert.title()) + " " + quote_text(alert.message());
    if (!alert.cancelButtonTitle().empty()) line += " [" + alert.cancelButtonTitle() + "]";
    for (const auto& other : alert.otherButtonTitles()) line += " [" + other + "]";
    return line;
}

void HeadlessAlertPresenter::present(const AlertView& alert) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        alerts_.push_back({alert.title(), alert.message(), alert.cancelButtonTitle(), alert.otherButtonTitles(),
                           alert.delegate() != nullptr});
    }
    if (out_ != nullptr) {
        std::fprintf(out_, "%s\n", format_line(alert).c_str());
        std::fflush(out_);
    }
}

std::vector<HeadlessAlertPresenter::Record> HeadlessAlertPresenter::alerts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return alerts_;
}

}  // namespace vgps
