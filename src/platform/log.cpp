#include "platform/log.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "platform/fd.h"

namespace vgps {
namespace {

std::mutex sink_mutex;
LogSink current_sink;

void write_stderr(std::string_view line) {
    std::string out(line);
    out.push_back('\n');
    // One write per line keeps lines from concurrent writers whole.
    write_all(STDERR_FILENO, out.data(), out.size());
}

// Appends the printf-style text to `text`; false when it cannot be formatted.
bool append_formatted(std::string& text, const char* format, va_list args) {
    char small[512];
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    if (needed >= 0 && static_cast<size_t>(needed) < sizeof small) {
        text.append(small, static_cast<size_t>(needed));
    } else if (needed >= 0) {
        const size_t at = text.size();
        text.resize(at + static_cast<size_t>(needed));
        std::vsnprintf(text.data() + at, static_cast<size_t>(needed) + 1, format, again);
    }
    va_end(again);
    return needed >= 0;
}

// "<who> ", the start of a reporting function's line.
std::string prefix(const char* who) { return std::string("<") + who + "> "; }

// Hands the line, without a trailing newline, to the sink.
void emit(std::string& text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    std::lock_guard<std::mutex> lock(sink_mutex);
    if (current_sink) {
        current_sink(text);
    } else {
        write_stderr(text);
    }
}

}  // namespace

void log_error(const char* format, ...) {
    std::string text;
    va_list args;
    va_start(args, format);
    const bool ok = append_formatted(text, format, args);
    va_end(args);
    if (ok) emit(text);
}

void log_from(const char* who, const char* format, ...) {
    std::string text = prefix(who);
    va_list args;
    va_start(args, format);
    const bool ok = append_formatted(text, format, args);
    va_end(args);
    if (ok) emit(text);
}

void log_from(const char* who) {
    std::string text = prefix(who);
    emit(text);
}

LogSink set_log_sink(LogSink sink) {
    std::lock_guard<std::mutex> lock(sink_mutex);
    LogSink previous = std::move(current_sink);
    current_sink = std::move(sink);
    return previous;
}

LogCapture::LogCapture() {
    previous_ = set_log_sink([this](std::string_view line) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.emplace_back(line);
    });
}

LogCapture::~LogCapture() { set_log_sink(std::move(previous_)); }

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

bool LogCapture::contains(std::string_view line) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

}  // namespace vgps
