// nmea-dump: feeds a receiver's byte stream through one NMEA parser in
// blocks, as the data link does, and prints the decoded nmeaINFO after each
// block as one line of JSON (or, with --summary, one line of totals).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "nmea/context.h"
#include "nmea/info.h"
#include "nmea/parser.h"
#include "nmea/time.h"
#include "platform/command_line.h"

namespace {

using namespace vgps;

// Set by the first write that fails, on stdout or stderr: the output is
// then incomplete, and the run ends with status 2.
int g_write_error = 0;

void note_write(bool ok) {
    if (!ok && g_write_error == 0) g_write_error = errno != 0 ? errno : EIO;
}

void print_error(const char* str, int str_size) {
    note_write(std::fprintf(stderr, "error: %.*s\n", str_size, str) >= 0);
}

void print_trace(const char* str, int str_size) {
    // The sentence without its line end.
    while (str_size > 0 && (str[str_size - 1] == '\n' || str[str_size - 1] == '\r')) --str_size;
    note_write(std::fprintf(stderr, "trace: %.*s\n", str_size, str) >= 0);
}

// "key": with the comma that separates it from a previous member.
void put_key(std::string& out, const char* key) {
    if (!out.empty() && out.back() != '{' && out.back() != '[') out += ',';
    out += '"';
    out += key;
    out += "\":";
}

void put_int(std::string& out, const char* key, int value) {
    put_key(out, key);
    out += std::to_string(value);
}

// Shortest text that reads back to the same double; NaN and infinities
// as NaN, Infinity, -Infinity.
void put_double(std::string& out, const char* key, double value) {
    put_key(out, key);
    if (std::isnan(value)) {
        out += "NaN";
    } else if (std::isinf(value)) {
        out += value < 0 ? "-Infinity" : "Infinity";
    } else {
        char text[64];
        auto [ptr, ec] = std::to_chars(text, text + sizeof text, value);
        (void)ec;
        out.append(text, ptr);
    }
}

void put_info(std::string& out, const nmeaINFO& info) {
    out += '{';
    put_int(out, "smask", info.smask);
    put_key(out, "utc");
    out += '{';
    put_int(out, "year", info.utc.year);
    put_int(out, "mon", info.utc.mon);
    put_int(out, "day", info.utc.day);
    put_int(out, "hour", info.utc.hour);
    put_int(out, "min", info.utc.min);
    put_int(out, "sec", info.utc.sec);
    put_int(out, "hsec", info.utc.hsec);
    out += '}';
    put_int(out, "sig", info.sig);
    put_int(out, "fix", info.fix);
    put_double(out, "PDOP", info.PDOP);
    put_double(out, "HDOP", info.HDOP);
    put_double(out, "VDOP", info.VDOP);
    put_double(out, "lat", info.lat);
    put_double(out, "lon", info.lon);
    put_double(out, "elv", info.elv);
    put_double(out, "speed", info.speed);
    put_double(out, "direction", info.direction);
    put_double(out, "declination", info.declination);
    put_key(out, "satinfo");
    out += '{';
    put_int(out, "inuse", info.satinfo.inuse);
    put_int(out, "inview", info.satinfo.inview);
    put_key(out, "sat");
    out += '[';
    for (int i = 0; i < NMEA_MAXSAT; ++i) {
        const nmeaSATELLITE& sat = info.satinfo.sat[i];
        if (i) out += ',';
        out += '{';
        put_int(out, "id", sat.id);
        put_int(out, "in_use", sat.in_use);
        put_int(out, "elv", sat.elv);
        put_int(out, "azimuth", sat.azimuth);
        put_int(out, "sig", sat.sig);
        out += '}';
    }
    out += "]}}\n";
}

// Fills the block up to its size, so the output does not depend on how a
// pipe happens to deliver the bytes. Returns the bytes read, -1 on error.
ssize_t read_block(int fd, char* block, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, block + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

bool write_all(const std::string& text) {
    const bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    note_write(ok);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    long long block_size = 1023;
    long long clock = 0;
    bool errors = false;
    bool summary = false;
    std::string path;

    CommandLine cli("nmea-dump", "[--block N] [--clock SECONDS] [--errors] [--summary] [FILE|-]",
                    "Feeds FILE (or stdin) to the NMEA parser in blocks of at most N bytes and prints the\n"
                    "decoded record after each block as one line of JSON.",
                    "Exit status: 0; 2 for a missing or unreadable file, a failed write or a bad option.");
    cli.add_integer("--block", &block_size, 1, 1 << 24, "N", "a number of bytes from 1 to 16777216",
                    "bytes per block (default 1023, the data link's read size)");
    CLI::Option* clock_option =
        cli.add_integer("--clock", &clock, -(1LL << 40), 1LL << 40, "SECONDS", "a whole number of seconds",
                        "the time (seconds since 1970, UTC) the record is reset to");
    cli.app().add_flag("--errors", errors, "print decoder errors and traced sentences on stderr");
    cli.app().add_flag("--summary", summary, "print only {\"bytes\":..,\"blocks\":..,\"packs\":..} at the end");
    cli.app().add_option("FILE", path, "the capture to read; stdin when missing or \"-\"")->type_name("");
    if (const auto status = cli.parse(argc, argv)) return *status;
    const bool have_clock = clock_option->count() > 0;
    std::time_t clock_value = static_cast<std::time_t>(clock);

    int fd = STDIN_FILENO;
    const char* name = "stdin";
    if (!path.empty() && path != "-") {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::fprintf(stderr, "nmea-dump: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
            return 2;
        }
        name = path.c_str();
    }

    if (have_clock) nmea_time_set_clock(&clock_value);
    if (errors) {
        nmea_property()->error_cb = print_error;
        nmea_property()->trace_cb = print_trace;
    }

    nmeaPARSER parser;
    nmeaINFO info;
    if (!nmea_parser_init(&parser)) {
        std::fprintf(stderr, "nmea-dump: cannot allocate the parser\n");
        return 2;
    }
    nmea_zero_INFO(&info);

    std::vector<char> block(static_cast<size_t>(block_size));
    std::string line;
    long long bytes = 0;
    long long blocks = 0;
    long long packs = 0;
    int status = 0;
    for (;;) {
        const ssize_t n = read_block(fd, block.data(), block.size());
        if (n < 0) {
            std::fprintf(stderr, "nmea-dump: cannot read %s: %s\n", name, std::strerror(errno));
            status = 2;
            break;
        }
        if (n == 0) break;
        packs += nmea_parse(&parser, block.data(), static_cast<int>(n), &info);
        bytes += n;
        ++blocks;
        if (!summary) {
            line.clear();
            put_info(line, info);
            if (!write_all(line)) break;  // reported below
        }
    }
    if (summary && status == 0) {
        note_write(std::printf("{\"bytes\":%lld,\"blocks\":%lld,\"packs\":%lld}\n", bytes, blocks, packs) >= 0);
    }
    if (fd != STDIN_FILENO) ::close(fd);
    nmea_parser_destroy(&parser);
    // Whatever was still buffered must reach its file too: a full disk is
    // an error, never an output cut short with status 0.
    note_write(std::fflush(stdout) == 0 && !std::ferror(stdout));
    note_write(std::fflush(stderr) == 0 && !std::ferror(stderr));
    if (g_write_error != 0) {
        std::fprintf(stderr, "nmea-dump: cannot write the output: %s\n", std::strerror(g_write_error));
        status = 2;
    }
    return status;
}
