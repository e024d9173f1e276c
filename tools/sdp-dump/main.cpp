// sdp-dump: runs the record walk and channel choice of a service search
// response from the command line.
//
//   sdp-dump [--hex] [--addr XX:XX:XX:XX:XX:XX] [FILE | -]
//
// Reads the attribute bytes (the data element sequence of attribute lists)
// from FILE or stdin, raw or, with --hex, as hex digits with any white space
// between them. Prints the log lines of the walk to stdout, one per line, then
// "channel N" or "channel none". Exit status 0; 2 when the input cannot be
// read or the arguments are wrong. See --help.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/command_line.h"
#include "platform/log.h"
#include "registry/bdaddr.h"
#include "sdp/sdp_record_walk.h"

namespace {

constexpr int kExitBadInput = 2;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool read_all(FILE* in, std::vector<uint8_t>* out) {
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        out->insert(out->end(), chunk, chunk + n);
    }
    return !std::ferror(in);
}

// Hex digits in pairs; white space anywhere is skipped. On failure `error`
// says why.
bool decode_hex(const std::vector<uint8_t>& text, std::vector<uint8_t>* out, std::string* error) {
    int high = -1;
    size_t offset = 0;
    for (uint8_t c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
            ++offset;
            continue;
        }
        int v = hex_digit(static_cast<char>(c));
        if (v < 0) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "not a hex digit at offset %zu (byte 0x%02x)", offset,
                          c);
            *error = buf;
            return false;
        }
        if (high < 0) {
            high = v;
        } else {
            out->push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
        ++offset;
    }
    if (high >= 0) {
        *error = "odd number of hex digits";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool hex = false;
    vgps::bdaddr addr{};
    std::string path_arg;
    vgps::CommandLine cli("sdp-dump", "[--hex] [--addr XX:XX:XX:XX:XX:XX] [FILE | -]",
                          "Runs the record walk and RFCOMM channel choice of a service search response: prints\n"
                          "the log lines of the walk, then \"channel N\" or \"channel none\".",
                          "Exit status: 0; 2 when the input cannot be read or the arguments are wrong.");
    cli.app().add_flag("--hex", hex, "the input is hex digits (white space ignored), not raw bytes");
    cli.add_parsed<vgps::bdaddr>(
        "--addr", &addr, [](const std::string& text, vgps::bdaddr* out) { return vgps::bdaddr_from_text(text, out); },
        "XX:XX:XX:XX:XX:XX", "an address XX:XX:XX:XX:XX:XX",
        "the address of the BD_ADDR line (default 00:00:00:00:00:00)");
    cli.app().add_option("FILE", path_arg, "the attribute bytes; stdin when missing or \"-\"")->type_name("");
    if (const auto status = cli.parse(argc, argv)) return *status;
    const char* path = path_arg.empty() ? nullptr : path_arg.c_str();

    const bool from_stdin = path == nullptr || std::strcmp(path, "-") == 0;
    const char* name = from_stdin ? "stdin" : path;
    FILE* in = from_stdin ? stdin : std::fopen(path, "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "sdp-dump: cannot open %s: %s\n", name, std::strerror(errno));
        return kExitBadInput;
    }
    std::vector<uint8_t> input;
    const bool ok = read_all(in, &input);
    const int read_errno = errno;
    if (!from_stdin) std::fclose(in);
    if (!ok) {
        std::fprintf(stderr, "sdp-dump: cannot read %s: %s\n", name, std::strerror(read_errno));
        return kExitBadInput;
    }

    std::vector<uint8_t> bytes;
    if (hex) {
        std::string error;
        if (!decode_hex(input, &bytes, &error)) {
            std::fprintf(stderr, "sdp-dump: %s is not hex text: %s\n", name, error.c_str());
            return kExitBadInput;
        }
    } else {
        bytes = std::move(input);
    }
    if (bytes.size() > UINT32_MAX) {
        std::fprintf(stderr, "sdp-dump: %s holds more than 4 GiB\n", name);
        return kExitBadInput;
    }

    vgps::set_log_sink([](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    });
    const int channel = vgps::sdp_choose_rfcomm_channel(
        bytes.data(), static_cast<uint32_t>(bytes.size()), addr);
    vgps::set_log_sink({});

    if (channel > 0) {
        std::printf("channel %d\n", channel);
    } else {
        std::printf("channel none\n");
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
