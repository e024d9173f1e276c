// The one logging call of the system. Every line is written at the error
// level; by convention its format begins "<%s> " with the name of the
// reporting function: the plain name for free functions ("vexod_xrecv"),
// the method form for object operations ("-[DaemonManager connectToDaemon]").
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vgps {

// Formats one line printf-style and hands it to the current sink. A single
// trailing newline in the result is dropped: the sink ends lines itself.
void log_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The line of a reporting function: "<who> " and then the formatted text,
// who being the function's name ("vexod_xrecv", "-[DaemonManager
// connectToDaemon]", "vexod"). Without a format, the bare "<who> " that
// says the function was reached.
void log_from(const char* who, const char* format, ...) __attribute__((format(printf, 2, 3)));
void log_from(const char* who);

// Receives each formatted line, without its newline.
using LogSink = std::function<void(std::string_view line)>;

// Installs a sink and returns the one it replaces. An empty sink restores
// the default, which writes each line to stderr.
LogSink set_log_sink(LogSink sink);

// Records every line logged while it exists, in order (thread-safe).
// Meant for tests and tools that need the lines themselves.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    void clear();
    // True when some recorded line equals `line` exactly.
    bool contains(std::string_view line) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    LogSink previous_;
};

}  // namespace vgps
