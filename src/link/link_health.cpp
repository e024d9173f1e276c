#include "link/link_health.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "nmea/info.h"

namespace vgps {
namespace {

constexpr const char* kDecodedTypes[] = {"GGA", "GSA", "GSV", "RMC", "VTG"};

double seconds_between(LinkHealth::Clock::time_point from, LinkHealth::Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// The address field of a sentence's head: the letters and digits after the
// "$" up to "," or "*" (at most six); "?" when anything else stands there.
// Returns its bytes packed into a key.
uint64_t address_of(const NmeaFrame& frame, char* out) {
    int n = 0;
    for (int i = 1; i < frame.head_length; ++i) {
        const char c = frame.head[i];
        if (c == ',' || c == '*') break;
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            n = 0;
            break;
        }
        out[n++] = c;
    }
    if (n == 0) out[n++] = '?';
    out[n] = '\0';
    uint64_t key = 0;
    std::memcpy(&key, out, static_cast<size_t>(n));
    return key;
}

// A talker's two letters when the address is one of the five decoded types
// under a talker other than GP; "" otherwise.
std::string foreign_talker(const char* address) {
    if (std::strlen(address) != 5 || std::strncmp(address, "GP", 2) == 0) return "";
    for (const char* type : kDecodedTypes) {
        if (std::strcmp(address + 2, type) == 0) return std::string(address, 2);
    }
    return "";
}

// "A", "A and B", "A, B and C".
std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0) text += i + 1 == words.size() ? " and " : ", ";
        text += words[i];
    }
    return text;
}

}  // namespace

void LinkHealth::reset(Clock::time_point now, int buff_size) {
    scanner_.reset(buff_size);
    opened_ = now;
    lastByte_.reset();
    lastApplied_.reset();
    for (Bucket& b : buckets_) b = Bucket{};
    current_ = 0;
    for (Slot& s : slots_) s = Slot{};
    std::strcpy(slots_[kLinkHealthAddressSlots].address, "other");
    slotsUsed_ = 0;
    bytes_ = sentences_ = decodable_ = applied_ = badChecksums_ = skippedSentences_ = skippedBytes_ = clears_ =
        droppedBytes_ = 0;
}

void LinkHealth::blockRead(const char* bytes, int n, int applied, Clock::time_point now) {
    if (n <= 0) return;
    const int64_t second = std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::seconds>(now - opened_).count());
    current_ = static_cast<int>(second % kBuckets);
    Bucket& bucket = buckets_[current_];
    if (bucket.second != second) {
        bucket = Bucket{};
        bucket.second = second;
        for (Slot& s : slots_) s.counts[current_] = 0;
    }
    bucket.bytes += static_cast<uint32_t>(n);
    bytes_ += static_cast<uint64_t>(n);
    lastByte_ = now;
    if (applied > 0) {
        bucket.applied += static_cast<uint32_t>(applied);
        applied_ += static_cast<uint64_t>(applied);
        lastApplied_ = now;
    }
    scanner_.scan(bytes, n, this);
}

void LinkHealth::frame(const NmeaFrame& frame) {
    Bucket& bucket = buckets_[current_];
    // A frame that does not start with "$" is the end of a sentence whose
    // start was lost (the link joined the stream in the middle, or the
    // buffer was cleared): bytes skipped, not a sentence.
    const bool sentence = frame.head_length > 0 && frame.head[0] == '$';
    switch (frame.kind) {
    case NmeaFrameKind::Checked:
        if (!sentence) break;
        ++bucket.sentences;
        ++sentences_;
        if (frame.pack_type == NMEA_NOPACK) {
            countSkipped(frame);
        } else {
            ++bucket.decodable;
            ++decodable_;
            if (frame.pack_type == NMEA_GPGGA || frame.pack_type == NMEA_GPRMC) ++bucket.positions;
        }
        return;
    case NmeaFrameKind::BadChecksum:
        if (!sentence) break;
        ++bucket.badChecksums;
        ++badChecksums_;
        return;
    case NmeaFrameKind::Skipped:
        break;
    case NmeaFrameKind::Dropped:
        ++clears_;
        droppedBytes_ += static_cast<uint64_t>(frame.length);
        return;
    }
    skippedBytes_ += static_cast<uint64_t>(frame.length);
}

void LinkHealth::countSkipped(const NmeaFrame& frame) {
    ++skippedSentences_;
    char address[kNmeaFrameHead];
    const uint64_t key = address_of(frame, address);
    Slot* slot = nullptr;
    for (int i = 0; i < slotsUsed_ && !slot; ++i) {
        if (slots_[i].key == key) slot = &slots_[i];
    }
    if (!slot && slotsUsed_ < kLinkHealthAddressSlots) slot = &slots_[slotsUsed_++];
    if (!slot) {
        // Every slot taken: one that nothing filled in the window makes room.
        const int64_t now = buckets_[current_].second;
        for (int i = 0; i < kLinkHealthAddressSlots && !slot; ++i) {
            bool idle = true;
            for (int b = 0; b < kBuckets; ++b) idle = idle && (!inWindow(b, now) || slots_[i].counts[b] == 0);
            if (idle) slot = &slots_[i];
        }
        if (slot) *slot = Slot{};
    }
    if (!slot) {
        slot = &slots_[kLinkHealthAddressSlots];  // "other"
    } else if (slot->address[0] == '\0') {
        slot->key = key;
        std::memcpy(slot->address, address, sizeof address);
    }
    ++slot->total;
    ++slot->counts[current_];
}

bool LinkHealth::inWindow(int i, int64_t second) const {
    const int64_t s = buckets_[i].second;
    return s >= 0 && s <= second && second - s <= kLinkHealthWindowSeconds;
}

bool LinkHealth::wholeInWindow(int i, int64_t second) const { return inWindow(i, second) && buckets_[i].second < second; }

LinkHealthReport LinkHealth::report(Clock::time_point now) const {
    LinkHealthReport r;
    r.linkSeconds = std::max(0.0, seconds_between(opened_, now));
    const int64_t second = static_cast<int64_t>(r.linkSeconds);
    if (lastByte_) r.sinceByteSeconds = std::max(0.0, seconds_between(*lastByte_, now));
    if (lastApplied_) r.sinceAppliedSeconds = std::max(0.0, seconds_between(*lastApplied_, now));
    r.bytes = bytes_;
    r.sentences = sentences_;
    r.applied = applied_;
    r.refused = decodable_ > applied_ ? decodable_ - applied_ : 0;
    r.badChecksums = badChecksums_;
    r.skippedSentences = skippedSentences_;
    r.skippedBytes = skippedBytes_;
    r.clears = clears_;
    r.droppedBytes = droppedBytes_;

    // Rates over the whole seconds of the window; in the first second, what
    // came so far.
    const int64_t whole = std::min<int64_t>(second, kLinkHealthWindowSeconds);
    auto counts = [&](int b) { return whole > 0 ? wholeInWindow(b, second) : inWindow(b, second); };
    const double span = whole > 0 ? static_cast<double>(whole) : 1.0;
    uint64_t bytes = 0, sentences = 0, applied = 0;
    for (int b = 0; b < kBuckets; ++b) {
        const Bucket& k = buckets_[b];
        if (counts(b)) {
            bytes += k.bytes;
            sentences += k.sentences;
            applied += k.applied;
        }
        if (!inWindow(b, second)) continue;
        r.recentBytes += k.bytes;
        r.recentSentences += k.sentences;
        r.recentBadChecksums += k.badChecksums;
        r.recentDecodable += k.decodable;
        r.recentPositions += k.positions;
        r.recentApplied += k.applied;
    }
    r.bytesPerSecond = static_cast<double>(bytes) / span;
    r.sentencesPerSecond = static_cast<double>(sentences) / span;
    r.appliedPerSecond = static_cast<double>(applied) / span;
    const uint32_t checked = r.recentSentences + r.recentBadChecksums;
    if (checked > 0) r.badChecksumPercent = static_cast<int>(std::lround(100.0 * r.recentBadChecksums / checked));

    for (const Slot& s : slots_) {
        LinkSkippedKind kind;
        uint32_t rated = 0;
        for (int b = 0; b < kBuckets; ++b) {
            if (inWindow(b, second)) kind.recent += s.counts[b];
            if (counts(b)) rated += s.counts[b];
        }
        if (kind.recent == 0) continue;
        std::memcpy(kind.address, s.address, sizeof kind.address);
        kind.perSecond = rated / span;
        kind.total = s.total;
        r.skipped[static_cast<size_t>(r.skippedKinds++)] = kind;
    }
    std::sort(r.skipped.begin(), r.skipped.begin() + r.skippedKinds,
              [](const LinkSkippedKind& a, const LinkSkippedKind& b) {
                  if (a.recent != b.recent) return a.recent > b.recent;
                  return std::strcmp(a.address, b.address) < 0;
              });
    return r;
}

std::string link_rate_text(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", value);
    std::string text = buf;
    if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
    return text;
}

std::string link_skipped_text(const LinkHealthReport& report) {
    std::string text;
    for (int i = 0; i < report.skippedKinds; ++i) {
        const LinkSkippedKind& k = report.skipped[static_cast<size_t>(i)];
        // A kind seen only in the second under way has no rate yet.
        const std::string rate = link_rate_text(k.perSecond);
        if (rate == "0") continue;
        if (!text.empty()) text += ", ";
        text += k.address;
        text += " " + rate + "/s";
    }
    return text;
}

std::string link_verdict(const LinkHealthReport& r, int fix) {
    auto no_data = [](double seconds) {
        return "no data for " + std::to_string(static_cast<long long>(seconds)) + " s";
    };
    if (!r.sinceByteSeconds) return r.linkSeconds >= kLinkSilenceSeconds ? no_data(r.linkSeconds) : "waiting for data";
    if (*r.sinceByteSeconds >= kLinkSilenceSeconds) return no_data(*r.sinceByteSeconds);

    if (r.recentSentences == 0) {
        if (r.recentBadChecksums > 0) return "checksum errors: 100%";
        if (r.sentences == 0 && r.linkSeconds < kLinkSilenceSeconds) return "waiting for the first sentence";
        return "receiving data but no NMEA sentences";
    }

    const auto skipped = r.skipped.begin();
    const auto skipped_end = r.skipped.begin() + r.skippedKinds;
    if (r.recentPositions == 0) {
        // The kinds come most frequent first, so do their talkers.
        std::vector<std::string> talkers;
        for (auto k = skipped; k != skipped_end; ++k) {
            const std::string talker = foreign_talker(k->address);
            if (!talker.empty() && std::find(talkers.begin(), talkers.end(), talker) == talkers.end())
                talkers.push_back(talker);
        }
        if (!talkers.empty()) return "receiving " + joined(talkers) + " sentences: this build decodes GP only";
    }
    if (r.badChecksumPercent >= kLinkChecksumErrorPercent)
        return "checksum errors: " + std::to_string(r.badChecksumPercent) + "%";
    if (r.recentPositions == 0) {
        if (r.recentDecodable == 0 && skipped != skipped_end) {
            std::string kinds;
            for (auto k = skipped; k != skipped_end && k - skipped < 3; ++k) {
                if (!kinds.empty()) kinds += ", ";
                kinds += k->address;
            }
            return "receiving only sentences this build does not decode: " + kinds;
        }
        return "receiving GP sentences without a position (no GGA or RMC)";
    }
    if (r.recentApplied == 0) return "GP sentences refused by the decoder";
    switch (fix) {
    case 3:
        return "receiving GP sentences, 3D fix";
    case 2:
        return "receiving GP sentences, 2D fix";
    default:
        return "receiving GP sentences, no fix";
    }
}

}  // namespace vgps
