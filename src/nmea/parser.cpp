#include "nmea/parser.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "nmea/context.h"
#include "nmea/parse.h"
#include "platform/fatal_assert.h"

namespace vgps {
namespace {

// Allocates the pack of a known type and decodes the sentence into it.
// Sets *out to the accepted pack, or null when the decoder rejected it;
// returns false only when the allocation failed.
template <typename Pack>
bool decode(int (*decoder)(const char*, int, Pack*), const char* sentence, int size,
            void** out) {
    Pack* pack = static_cast<Pack*>(std::malloc(sizeof(Pack)));
    if (!pack) return false;
    if (decoder(sentence, size, pack)) {
        *out = pack;
    } else {
        std::free(pack);
        *out = nullptr;
    }
    return true;
}

void free_queue(nmeaPARSER* parser) {
    nmeaNODE* node = static_cast<nmeaNODE*>(parser->top_node);
    while (node) {
        nmeaNODE* next = static_cast<nmeaNODE*>(node->next_node);
        std::free(node->pack);
        std::free(node);
        node = next;
    }
    parser->top_node = nullptr;
    parser->end_node = nullptr;
}

}  // namespace

int nmea_parser_init(nmeaPARSER* parser) {
    VGPS_FATAL_ASSERT(parser);
    int buff_size = nmea_property()->parser_buff_size;
    if (buff_size < NMEA_MIN_PARSEBUFF) buff_size = NMEA_MIN_PARSEBUFF;

    nmea_parser_destroy(parser);
    parser->buffer = static_cast<char*>(std::malloc(static_cast<size_t>(buff_size)));
    if (!parser->buffer) {
        nmea_error("Insufficient memory!");
        return 0;
    }
    parser->buff_size = buff_size;
    return 1;
}

void nmea_parser_destroy(nmeaPARSER* parser) {
    VGPS_FATAL_ASSERT(parser);
    free_queue(parser);
    std::free(parser->buffer);
    *parser = nmeaPARSER{};
}

int nmea_parse(nmeaPARSER* parser, const char* buff, int buff_sz, nmeaINFO* info) {
    VGPS_FATAL_ASSERT(parser && parser->buffer);
    nmea_parser_push(parser, buff, buff_sz);

    int nread = 0;
    void* pack = nullptr;
    int ptype;
    while (NMEA_NOPACK != (ptype = nmea_parser_pop(parser, &pack))) {
        switch (ptype) {
        case NMEA_GPGGA:
            nmea_GPGGA2info(static_cast<nmeaGPGGA*>(pack), info);
            break;
        case NMEA_GPGSA:
            nmea_GPGSA2info(static_cast<nmeaGPGSA*>(pack), info);
            break;
        case NMEA_GPGSV:
            nmea_GPGSV2info(static_cast<nmeaGPGSV*>(pack), info);
            break;
        case NMEA_GPRMC:
            nmea_GPRMC2info(static_cast<nmeaGPRMC*>(pack), info);
            break;
        case NMEA_GPVTG:
            nmea_GPVTG2info(static_cast<nmeaGPVTG*>(pack), info);
            break;
        default:
            break;
        }
        ++nread;
        std::free(pack);
    }
    return nread;
}

int nmea_parser_push(nmeaPARSER* parser, const char* buff, int buff_sz) {
    VGPS_FATAL_ASSERT(parser && parser->buffer);
    // Fed one byte at a time, the buffer holds at most buff_size - 1 bytes
    // after each scan, and the byte that arrives when it is that full clears
    // it. Blocks are pushed in chunks that keep to the same rule: each fills
    // the buffer to at most one byte short of full, and a chunk that arrives
    // at a buffer that full clears it (nmea_parser_real_push does that). As a
    // scan cuts the same sentences out of a few bytes more as out of the
    // bytes it has seen so far, where the stream was cut into blocks changes
    // nothing: no sentence split over two blocks is lost.
    const int most = parser->buff_size - 1;
    int nparse = 0;
    int nleft = buff_sz > 0 ? buff_sz : 0;
    do {
        // A buffer that is full already is cleared by this chunk, as by
        // the next byte, and the chunk may then fill it again.
        const int room = most - parser->buff_use;
        const int chunk = std::min(nleft, room > 0 ? room : most);
        nparse += nmea_parser_real_push(parser, buff, chunk);
        buff += chunk;
        nleft -= chunk;
    } while (nleft > 0);
    return nparse;
}

int nmea_parser_real_push(nmeaPARSER* parser, const char* buff, int buff_sz) {
    VGPS_FATAL_ASSERT(parser && parser->buffer);
    VGPS_FATAL_ASSERT(buff_sz >= 0 && buff_sz <= parser->buff_size);

    // A push that would fill the buffer drops the partial sentence it holds.
    if (parser->buff_use + buff_sz >= parser->buff_size) nmea_parser_buff_clear(parser);
    if (buff_sz > 0) std::memcpy(parser->buffer + parser->buff_use, buff, static_cast<size_t>(buff_sz));
    parser->buff_use += buff_sz;

    int nparsed = 0;
    for (;;) {
        char* const sentence = parser->buffer + nparsed;
        const int held = parser->buff_use - nparsed;
        int crc;
        const int nread = nmea_find_tail(sentence, held, &crc);
        if (!nread) {
            if (nparsed) {
                std::memmove(parser->buffer, sentence, static_cast<size_t>(held));
                parser->buff_use = held;
            }
            return nparsed;
        }

        if (crc >= 0) {
            // Unknown address fields are dropped here, before any allocation.
            const int ptype = nmea_pack_type(sentence + 1, held - 1);
            if (ptype != NMEA_NOPACK) {
                nmeaNODE* node = static_cast<nmeaNODE*>(std::malloc(sizeof(nmeaNODE)));
                bool allocated = node != nullptr;
                void* pack = nullptr;
                if (allocated) {
                    switch (ptype) {
                    case NMEA_GPGGA:
                        allocated = decode(nmea_parse_GPGGA, sentence, nread, &pack);
                        break;
                    case NMEA_GPGSA:
                        allocated = decode(nmea_parse_GPGSA, sentence, nread, &pack);
                        break;
                    case NMEA_GPGSV:
                        allocated = decode(nmea_parse_GPGSV, sentence, nread, &pack);
                        break;
                    case NMEA_GPRMC:
                        allocated = decode(nmea_parse_GPRMC, sentence, nread, &pack);
                        break;
                    default:
                        allocated = decode(nmea_parse_GPVTG, sentence, nread, &pack);
                        break;
                    }
                }
                if (!allocated) {
                    // The buffer is left as it was: the next push scans these
                    // sentences again (those queued already are queued twice).
                    std::free(node);
                    nmea_error("Insufficient memory!");
                    return -1;
                }
                if (pack) {
                    node->pack_type = ptype;
                    node->pack = pack;
                    node->next_node = nullptr;
                    if (parser->end_node) static_cast<nmeaNODE*>(parser->end_node)->next_node = node;
                    parser->end_node = node;
                    if (!parser->top_node) parser->top_node = node;
                } else {
                    std::free(node);
                }
            }
        }
        nparsed += nread;
    }
}

int nmea_parser_pop(nmeaPARSER* parser, void** pack_ptr) {
    VGPS_FATAL_ASSERT(parser && parser->buffer);
    nmeaNODE* node = static_cast<nmeaNODE*>(parser->top_node);
    if (!node) return NMEA_NOPACK;

    const int retval = node->pack_type;
    if (pack_ptr) {
        *pack_ptr = node->pack;
    } else {
        std::free(node->pack);  // nobody to hand it to
    }
    parser->top_node = node->next_node;
    if (!parser->top_node) parser->end_node = nullptr;
    std::free(node);
    return retval;
}

int nmea_parser_buff_clear(nmeaPARSER* parser) {
    VGPS_FATAL_ASSERT(parser && parser->buffer);
    parser->buff_use = 0;
    return 1;
}

}  // namespace vgps
