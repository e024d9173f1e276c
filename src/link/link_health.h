// The health of a GPS data link: what the receiver's stream carries, kept
// beside the parser as blocks are read, and a verdict in plain words on why
// there is (or is not) a position. It watches the bytes the parser is given
// (NmeaFrameScanner follows the parser's framing) and changes nothing that
// is decoded or posted. Cheap enough to stay on: fixed tables, no
// allocation while blocks are read.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "nmea/frame_scan.h"

namespace vgps {

// Rates are taken over the last this many whole seconds of the link.
inline constexpr int kLinkHealthWindowSeconds = 5;
// Skipped sentences are told apart by address field up to this many kinds
// at a time; the rest count as "other".
inline constexpr int kLinkHealthAddressSlots = 12;
// No byte for this long: "no data for N s".
inline constexpr double kLinkSilenceSeconds = 3.0;
// At least this share of sentences with a wrong checksum (in the window):
// "checksum errors: N%".
inline constexpr int kLinkChecksumErrorPercent = 10;

// Sentences of one address field that arrived with a correct checksum and
// that this build skips (another talker, another type, proprietary).
struct LinkSkippedKind {
    char address[kNmeaFrameHead] = {};  // "GNRMC", "PORZD"; "other" for the rest, "?" for a garbled one
    uint32_t recent = 0;                // in the window, the current second included
    double perSecond = 0;               // over the window's whole seconds
    uint64_t total = 0;                 // since the link opened
};

struct LinkHealthReport {
    double linkSeconds = 0;  // since the link opened

    // Over the window's whole seconds (during the first second: so far).
    double bytesPerSecond = 0;
    double sentencesPerSecond = 0;  // sentences with a correct checksum, decoded or skipped
    double appliedPerSecond = 0;    // sentences applied to the record
    std::optional<double> sinceByteSeconds;     // none: no byte since the link opened
    std::optional<double> sinceAppliedSeconds;  // none: no sentence applied yet

    // Since the link opened.
    uint64_t bytes = 0;
    uint64_t sentences = 0;
    uint64_t applied = 0;
    uint64_t refused = 0;        // sentences of the five decoded types that their decoder refused
    uint64_t badChecksums = 0;   // sentences ("$" to "*hh" CR LF) with a wrong checksum
    uint64_t skippedSentences = 0;
    uint64_t skippedBytes = 0;   // noise, sentences cut short, a stream joined in the middle
    uint64_t clears = 0;         // times the parser's buffer filled and was cleared
    uint64_t droppedBytes = 0;   // bytes those clears dropped

    // In the window, the current second included: what the verdict looks at.
    uint32_t recentBytes = 0;
    uint32_t recentSentences = 0;
    uint32_t recentBadChecksums = 0;
    uint32_t recentDecodable = 0;  // sentences of the five decoded types
    uint32_t recentPositions = 0;  // of them, GGA and RMC: the ones that carry a position
    uint32_t recentApplied = 0;
    int badChecksumPercent = 0;    // of the sentences in the window, rounded

    // The skipped kinds seen in the window, most frequent first.
    std::array<LinkSkippedKind, kLinkHealthAddressSlots + 1> skipped{};
    int skippedKinds = 0;
};

// A rate or a time in seconds with at most one decimal: "1", "0.2", "412.5".
std::string link_rate_text(double value);

// "GNRMC 1/s, GNGGA 1/s": the skipped kinds of the window with their rates
// (those seen only in the second under way have none yet and are left
// out); "" when none.
std::string link_skipped_text(const LinkHealthReport& report);

// The verdict on a link's health in plain words; `fix` is the record's fix
// (1 none, 2 2D, 3 3D). The first rule that holds gives it:
//  1. nothing received yet: "waiting for data", or after kLinkSilenceSeconds
//     "no data for N s";
//  2. no byte for kLinkSilenceSeconds: "no data for N s";
//  3. no sentence with a correct checksum in the window: "checksum errors:
//     100%" when sentences came with wrong ones; "waiting for the first
//     sentence" during the first seconds; else "receiving data but no NMEA
//     sentences";
//  4. no GGA or RMC of the GP talker in the window, but the decoded types
//     under other talkers: "receiving GN sentences: this build decodes GP
//     only" (the talkers, most frequent first);
//  5. at least kLinkChecksumErrorPercent of the window's sentences with a
//     wrong checksum: "checksum errors: N%";
//  6. no GGA or RMC of the GP talker in the window: "receiving only
//     sentences this build does not decode: GPGLL, PGRME" when nothing
//     decodable came, else "receiving GP sentences without a position (no
//     GGA or RMC)";
//  7. nothing applied in the window: "GP sentences refused by the decoder";
//  8. "receiving GP sentences, " and "no fix", "2D fix" or "3D fix".
std::string link_verdict(const LinkHealthReport& report, int fix);

class LinkHealth : private NmeaFrameSink {
public:
    using Clock = std::chrono::steady_clock;

    // A link opened at `now`, its parser's buffer `buff_size` bytes.
    void reset(Clock::time_point now, int buff_size);
    // A block of `n` bytes read at `now` and given to the parser, which
    // applied `applied` sentences from it.
    void blockRead(const char* bytes, int n, int applied, Clock::time_point now);
    LinkHealthReport report(Clock::time_point now) const;

private:
    static constexpr int kBuckets = kLinkHealthWindowSeconds + 1;

    // One second of the link.
    struct Bucket {
        int64_t second = -1;  // seconds since the link opened; -1: unused
        uint32_t bytes = 0, sentences = 0, badChecksums = 0, decodable = 0, positions = 0, applied = 0;
    };
    struct Slot {
        uint64_t key = 0;  // the address field's bytes
        char address[kNmeaFrameHead] = {};
        uint64_t total = 0;
        uint32_t counts[kBuckets] = {};  // per bucket, valid with the bucket's second
    };

    void frame(const NmeaFrame& frame) override;
    void countSkipped(const NmeaFrame& frame);
    // Whether bucket i holds a second of the window ending at `second`, and
    // whether it is one of its whole seconds.
    bool inWindow(int i, int64_t second) const;
    bool wholeInWindow(int i, int64_t second) const;

    NmeaFrameScanner scanner_;
    Clock::time_point opened_{};
    std::optional<Clock::time_point> lastByte_, lastApplied_;
    Bucket buckets_[kBuckets];
    int current_ = 0;  // the bucket of the block being read
    Slot slots_[kLinkHealthAddressSlots + 1];  // the last one: "other"
    int slotsUsed_ = 0;
    uint64_t bytes_ = 0, sentences_ = 0, decodable_ = 0, applied_ = 0, badChecksums_ = 0, skippedSentences_ = 0,
             skippedBytes_ = 0, clears_ = 0, droppedBytes_ = 0;
};

}  // namespace vgps
