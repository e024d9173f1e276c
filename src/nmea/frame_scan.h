// What the stream parser makes of a byte stream, told frame by frame without
// decoding anything: the checked sentences it hands on (and their pack
// type), the sentences whose checksum is wrong, the bytes it skips and the
// bytes it drops when its buffer fills. It follows the parser's framing
// rules (nmea_find_tail) and its buffer rule one byte at a time, which is
// what the parser gives for any cutting of the stream into blocks, so it
// can watch a parser's input from the side: after every block, held()
// equals the parser's buff_use and the checked frames of a known type are
// exactly the sentences the parser passed to its decoders. It holds no
// copy of the bytes and allocates nothing.
#pragma once

#include <cstdint>

#include "nmea/context.h"

namespace vgps {

enum class NmeaFrameKind {
    Checked,      // ends in "*hh" CR LF with a correct checksum
    BadChecksum,  // ends in "*hh" CR LF with a wrong checksum: skipped
    Skipped,      // bytes before a "$" that end no sentence (noise, a sentence cut short): skipped
    Dropped,      // bytes held when the buffer filled: dropped by the parser's clear
};

// The first bytes of a frame kept for its reader: enough for the "$" and a
// six-letter address field.
inline constexpr int kNmeaFrameHead = 7;

struct NmeaFrame {
    NmeaFrameKind kind;
    int length;  // bytes of the stream it covers
    // Checked: the parser's pack type of it (nmea_pack_type), NMEA_NOPACK
    // for a sentence the parser skips. NMEA_NOPACK for the other kinds.
    int pack_type;
    // Its first min(length, kNmeaFrameHead) bytes (Dropped: none).
    char head[kNmeaFrameHead];
    int head_length;
};

class NmeaFrameSink {
public:
    virtual ~NmeaFrameSink() = default;
    virtual void frame(const NmeaFrame& frame) = 0;
};

class NmeaFrameScanner {
public:
    // A scanner for a parser whose buffer holds `buff_size` bytes
    // (nmeaPARSER::buff_size), with nothing held.
    explicit NmeaFrameScanner(int buff_size = NMEA_DEF_PARSEBUFF) { reset(buff_size); }
    void reset(int buff_size);

    // Follows `n` more bytes of the stream, telling `sink` of every frame
    // they end, in stream order.
    void scan(const char* bytes, int n, NmeaFrameSink* sink);

    // Bytes of an unfinished frame held, as the parser holds them.
    int held() const { return held_; }

private:
    void startFrame();
    void emit(NmeaFrameSink* sink, NmeaFrameKind kind, int pack_type);

    int most_ = NMEA_DEF_PARSEBUFF - 1;  // the parser holds at most this many bytes
    int held_ = 0;                       // bytes of the current frame
    uint64_t crc_ = 0;                   // exclusive-or of its bytes after the first, in 8 lanes
    int star_ = -1;                      // position of its "*", -1 before one
    bool stalled_ = false;               // a "*" not followed by "hh" CR LF: held until the buffer fills
    char head_[kNmeaFrameHead] = {};
    char tail_[4] = {};  // the four bytes after the "*"
};

}  // namespace vgps
