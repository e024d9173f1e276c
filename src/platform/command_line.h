// The command line of the project's programs, in one style: -h and --help
// print the help on stdout, --version the project's version; an option's
// value follows as --opt=value or --opt value; "--" ends the options; an
// option given twice keeps its last value. Anything wrong is told in one
// form on stderr, naming the option or argument, with exit status 2:
//
//   nmea-dump: --block: needs a number of bytes from 1 to 16777216, not "0"
//   usage: nmea-dump [--block N] [--clock SECONDS] [--errors] [--summary] [FILE|-]
//   Try 'nmea-dump --help' for more information.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <string>

namespace vgps {

// The project's version, as the build gives it.
const char* project_version();

class CommandLine {
public:
    // `usage` is the synopsis without the program name; `description` opens
    // the help, `footer` (exit statuses, notes) ends it.
    CommandLine(std::string program, std::string usage, std::string description, std::string footer = "");

    CLI::App& app() { return app_; }

    // Parses. Nothing when the program goes on; otherwise the exit status:
    // 0 after --help or --version, 2 after an error (told on stderr).
    std::optional<int> parse(int argc, char** argv);

    // Tells a problem with the arguments found after parsing in the same
    // form; returns 2.
    int fail(const std::string& message) const;

    // An option whose value `parse` turns into *target; a value it refuses
    // is an error "NAME: needs WHAT, not "VALUE"".
    template <class T>
    CLI::Option* add_parsed(const std::string& name, T* target, std::function<bool(const std::string&, T*)> parse,
                            const std::string& value_name, const std::string& what, const std::string& help) {
        return app_
            .add_option_function<std::string>(
                name,
                [name, target, parse, what](const std::string& text) {
                    if (!parse(text, target))
                        throw CLI::ValidationError(name, "needs " + what + ", not \"" + text + "\"");
                },
                help)
            ->type_name(value_name);
    }

    // A whole number in decimal digits, from `min` to `max`.
    CLI::Option* add_integer(const std::string& name, long long* target, long long min, long long max,
                             const std::string& value_name, const std::string& what, const std::string& help);
    // A finite number, from `min` to `max`.
    CLI::Option* add_number(const std::string& name, double* target, double min, double max,
                            const std::string& value_name, const std::string& what, const std::string& help);

private:
    std::string program_;
    std::string usage_;
    CLI::App app_;
};

// The text conversions behind add_integer and add_number: the whole text,
// nothing before or after.
bool parse_integer(const std::string& text, long long min, long long max, long long* out);
bool parse_number(const std::string& text, double min, double max, double* out);

}  // namespace vgps
