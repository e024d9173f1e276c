// sdp-dump: runs the record walk and channel choice of a service search
// response from the command line.
//
//   sdp-dump [--hex] [--addr XX:XX:XX:XX:XX:XX] [FILE | -]
//
// Reads the attribute bytes (the data element sequence of attribute lists)
// from FILE or stdin, raw or, with --hex, as hex digits with any white space
// between them. Prints the log lines of the walk to stdout, one per line, then
// "channel N" or "channel none". Exit status 0; 2 when the input cannot be
// read or holds more than any response (64 MiB), the output cannot be
// written, or the arguments are wrong. See --help.
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

// The attribute bytes of a service search response travel in one daemon
// message of less than 50 MiB: more input than this is no response.
constexpr size_t kMaxBytes = 64 << 20;
// Hex text may spend a few characters on each byte (two digits, blanks,
// line ends).
constexpr size_t kMaxHexText = 4 * kMaxBytes;

// Hex digits in pairs, white space anywhere skipped, fed a piece at a time.
class HexDecoder {
public:
    // False, with `error` saying why, at the first character that is
    // neither.
    bool feed(const uint8_t* text, size_t size, std::vector<uint8_t>* out, std::string* error) {
        for (size_t i = 0; i < size; ++i, ++offset_) {
            const uint8_t c = text[i];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') continue;
            const int v = hex_digit(static_cast<char>(c));
            if (v < 0) {
                char buf[96];
                std::snprintf(buf, sizeof buf, "not a hex digit at offset %zu (byte 0x%02x)", offset_, c);
                *error = buf;
                return false;
            }
            if (high_ < 0) {
                high_ = v;
            } else {
                out->push_back(static_cast<uint8_t>(high_ << 4 | v));
                high_ = -1;
            }
        }
        return true;
    }
    // False when a digit is left without its pair.
    bool finish(std::string* error) {
        if (high_ < 0) return true;
        *error = "odd number of hex digits";
        return false;
    }

private:
    int high_ = -1;
    size_t offset_ = 0;
};

enum class ReadResult { Read, Unreadable, TooBig, NotHex };

// Reads the whole input into `bytes` (decoding it with --hex), stopping as
// soon as it holds more than a response can. `error` tells why for NotHex
// and how much is too much for TooBig; errno for Unreadable.
ReadResult read_input(FILE* in, bool hex, std::vector<uint8_t>* bytes, std::string* error) {
    HexDecoder decoder;
    uint8_t chunk[65536];
    size_t text = 0;
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        text += n;
        if (hex) {
            if (!decoder.feed(chunk, n, bytes, error)) return ReadResult::NotHex;
        } else {
            bytes->insert(bytes->end(), chunk, chunk + n);
        }
        if (bytes->size() > kMaxBytes || text > kMaxHexText) {
            *error = bytes->size() > kMaxBytes ? "64 MiB" : "256 MiB of hex text";
            return ReadResult::TooBig;
        }
    }
    if (std::ferror(in)) return ReadResult::Unreadable;
    if (hex && !decoder.finish(error)) return ReadResult::NotHex;
    return ReadResult::Read;
}

}  // namespace

int main(int argc, char** argv) {
    bool hex = false;
    vgps::bdaddr addr{};
    std::string path_arg;
    vgps::CommandLine cli("sdp-dump", "[--hex] [--addr XX:XX:XX:XX:XX:XX] [FILE | -]",
                          "Runs the record walk and RFCOMM channel choice of a service search response: prints\n"
                          "the log lines of the walk, then \"channel N\" or \"channel none\".",
                          "Exit status: 0; 2 when the input cannot be read or is larger than any response\n"
                          "(64 MiB), the output cannot be written, or the arguments are wrong.");
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
    std::vector<uint8_t> bytes;
    std::string error;
    errno = 0;
    const ReadResult read = read_input(in, hex, &bytes, &error);
    const int read_errno = errno;
    if (!from_stdin) std::fclose(in);
    switch (read) {
        case ReadResult::Read: break;
        case ReadResult::Unreadable:
            std::fprintf(stderr, "sdp-dump: cannot read %s: %s\n", name, std::strerror(read_errno));
            return kExitBadInput;
        case ReadResult::TooBig:
            std::fprintf(stderr,
                         "sdp-dump: %s holds more than %s, more than any service search response (less than 50 "
                         "MiB); nothing was listed\n",
                         name, error.c_str());
            return kExitBadInput;
        case ReadResult::NotHex:
            std::fprintf(stderr, "sdp-dump: %s is not hex text: %s\n", name, error.c_str());
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
    // A listing cut short by a full disk is an error, not a success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "sdp-dump: cannot write the output: %s\n", std::strerror(errno != 0 ? errno : EIO));
        return kExitBadInput;
    }
    return 0;
}
