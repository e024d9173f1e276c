#include "platform/command_line.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace vgps {
namespace {

// The help: the program's own synopsis first, then what it does, its
// arguments and options, and the footer.
class HelpFormatter : public CLI::Formatter {
public:
    explicit HelpFormatter(std::string synopsis) : synopsis_(std::move(synopsis)) {}
    std::string make_usage(const CLI::App*, std::string) const override { return "usage: " + synopsis_ + "\n"; }
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
        const std::string footer = make_footer(app);
        return make_usage(app, name) + "\n" + app->get_description() + "\n" + make_positionals(app) +
               make_groups(app, mode) + (footer.empty() ? "" : "\n" + footer);
    }

private:
    std::string synopsis_;
};

}  // namespace

const char* project_version() { return VGPS_VERSION; }

CommandLine::CommandLine(std::string program, std::string usage, std::string description, std::string footer)
    : program_(std::move(program)), usage_(std::move(usage)), app_(std::move(description), program_) {
    app_.formatter(std::make_shared<HelpFormatter>(program_ + " " + usage_));
    app_.set_help_flag("-h,--help", "print this help and exit");
    app_.set_version_flag("--version", program_ + " " + project_version(), "print the version and exit");
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    if (!footer.empty()) app_.footer(std::move(footer));
}

std::optional<int> CommandLine::parse(int argc, char** argv) {
    try {
        app_.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app_.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::printf("%s\n", e.what());
        return 0;
    } catch (const CLI::ExtrasError&) {
        // Named one by one: an option nobody knows, or an argument too many.
        const std::string extra = app_.remaining().empty() ? "?" : app_.remaining().front();
        return fail((extra.size() > 1 && extra[0] == '-' ? "unknown option " : "unexpected argument ") + extra);
    } catch (const CLI::ParseError& e) {
        return fail(e.what());
    }
    return std::nullopt;
}

int CommandLine::fail(const std::string& message) const {
    std::fprintf(stderr, "%s: %s\nusage: %s %s\nTry '%s --help' for more information.\n", program_.c_str(),
                 message.c_str(), program_.c_str(), usage_.c_str(), program_.c_str());
    return 2;
}

CLI::Option* CommandLine::add_integer(const std::string& name, long long* target, long long min, long long max,
                                      const std::string& value_name, const std::string& what,
                                      const std::string& help) {
    return add_parsed<long long>(
        name, target,
        [min, max](const std::string& text, long long* out) { return parse_integer(text, min, max, out); }, value_name,
        what, help);
}

CLI::Option* CommandLine::add_number(const std::string& name, double* target, double min, double max,
                                     const std::string& value_name, const std::string& what, const std::string& help) {
    return add_parsed<double>(
        name, target, [min, max](const std::string& text, double* out) { return parse_number(text, min, max, out); },
        value_name, what, help);
}

bool parse_integer(const std::string& text, long long min, long long max, long long* out) {
    const char* end = text.data() + text.size();
    long long value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || value < min || value > max) return false;
    *out = value;
    return true;
}

bool parse_number(const std::string& text, double min, double max, double* out) {
    const char* end = text.data() + text.size();
    double value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || !std::isfinite(value) || value < min || value > max)
        return false;
    *out = value;
    return true;
}

}  // namespace vgps
