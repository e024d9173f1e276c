#include "nmea/frame_scan.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "nmea/checksum_lanes.h"
#include "nmea/info.h"
#include "nmea/parse.h"
#include "nmea/tok.h"

namespace vgps {

void NmeaFrameScanner::reset(int buff_size) {
    // nmea_parser_init never makes a smaller buffer.
    most_ = std::max(buff_size, NMEA_MIN_PARSEBUFF) - 1;
    startFrame();
}

void NmeaFrameScanner::startFrame() {
    held_ = 0;
    crc_ = 0;
    star_ = -1;
    stalled_ = false;
}

void NmeaFrameScanner::emit(NmeaFrameSink* sink, NmeaFrameKind kind, int pack_type) {
    NmeaFrame frame;
    frame.kind = kind;
    frame.length = held_;
    frame.pack_type = pack_type;
    frame.head_length = kind == NmeaFrameKind::Dropped ? 0 : std::min(held_, kNmeaFrameHead);
    std::memcpy(frame.head, head_, sizeof head_);
    sink->frame(frame);
    startFrame();
}

// The parser fed one byte at a time, which is what it gives for any cutting
// of the stream (a frame that starts and ends within the block is cut in
// one go): a byte arriving at a buffer of `most_` held bytes first
// drops them; then nmea_find_tail over the held bytes either needs more
// bytes or cuts a frame off the front. Only the bytes of one unfinished
// frame are ever held, and a frame is cut by the byte that ends it: a "$"
// after its first byte (the bytes before it are skipped, the "$" starts the
// next frame), or the fourth byte after a "*" (CR LF there end a sentence;
// anything else stalls the scan until the buffer fills).
void NmeaFrameScanner::scan(const char* bytes, int n, NmeaFrameSink* sink) {
    const char* p = bytes;
    const char* const end = bytes + std::max(n, 0);
    while (p < end) {
        if (held_ == 0 && !stalled_) {
            // At the start of a frame: when the block holds all of it, the
            // parser's own framing cuts it at once. A frame longer than the
            // buffer never ends before it fills, so the scan stops there.
            const int room = static_cast<int>(std::min<std::ptrdiff_t>(end - p, most_));
            int crc;
            const int length = nmea_find_tail(p, room, &crc);
            if (length > 0) {
                held_ = length;
                std::memcpy(head_, p, static_cast<size_t>(std::min(length, kNmeaFrameHead)));
                if (crc >= 0) {
                    emit(sink, NmeaFrameKind::Checked, nmea_pack_type(p + 1, length - 1));
                } else {
                    // A frame cut at a "$" holds no "*": one that ends in
                    // "*hh" CR LF is a sentence with a wrong checksum.
                    const bool sentence = length >= 5 && p[length - 5] == '*';
                    emit(sink, sentence ? NmeaFrameKind::BadChecksum : NmeaFrameKind::Skipped, NMEA_NOPACK);
                }
                p += length;
                continue;
            }
            // Not ended within the block: followed byte by byte.
        }
        if (held_ == most_) emit(sink, NmeaFrameKind::Dropped, NMEA_NOPACK);
        if (stalled_) {
            const int take = static_cast<int>(std::min<std::ptrdiff_t>(end - p, most_ - held_));
            held_ += take;
            p += take;
            continue;
        }
        if (star_ >= 0) {
            if (held_ < kNmeaFrameHead) head_[held_] = *p;
            tail_[held_ - star_ - 1] = *p++;
            if (++held_ < star_ + 5) continue;
            if (tail_[2] != '\r' || tail_[3] != '\n') {
                stalled_ = true;
                continue;
            }
            const bool good = nmea_atoi(tail_, 2, 16) == nmea_lanes::fold_checksum(crc_);
            if (!good) {
                emit(sink, NmeaFrameKind::BadChecksum, NMEA_NOPACK);
            } else {
                // The address field follows the first byte; what the parser
                // compares lies within the head.
                emit(sink, NmeaFrameKind::Checked,
                     nmea_pack_type(head_ + 1, std::min(held_, kNmeaFrameHead) - 1));
            }
            continue;
        }
        // Inside a frame: eight bytes at a time while neither "$" nor "*"
        // is among them and the buffer has room for all eight.
        if (held_ >= kNmeaFrameHead && end - p >= 8 && most_ - held_ >= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            if (!nmea_lanes::has_byte(word, '$') && !nmea_lanes::has_byte(word, '*')) {
                crc_ ^= word;
                held_ += 8;
                p += 8;
                continue;
            }
        }
        const char c = *p;
        if (c == '$' && held_ > 0) {
            emit(sink, NmeaFrameKind::Skipped, NMEA_NOPACK);
            continue;  // the "$" starts the next frame
        }
        if (held_ < kNmeaFrameHead) head_[held_] = c;
        if (c == '*') {
            star_ = held_;
        } else if (held_ > 0) {
            crc_ ^= static_cast<unsigned char>(c);
        }
        ++held_;
        ++p;
    }
}

}  // namespace vgps
