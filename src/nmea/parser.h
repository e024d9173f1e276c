// The stream parser: keeps the bytes of a serial stream that do not yet form
// a sentence, cuts checked sentences out of it, decodes the five known types
// and applies them in arrival order to one nmeaINFO.
#pragma once

#include "nmea/info.h"

namespace vgps {

// One decoded sentence waiting in the parser's queue (heap-allocated).
struct nmeaNODE {
    int pack_type;    // nmeaPACKTYPE of pack
    void* pack;       // nmeaGPGGA .. nmeaGPVTG, heap-allocated; owned by the node until popped
    void* next_node;  // next nmeaNODE, null for the last
};

// Declared records start empty, so nmea_parser_init can tell a parser that
// holds a buffer from one that never had one. A parser in raw memory must be
// zeroed before its first nmea_parser_init.
struct nmeaPARSER {
    void* top_node = nullptr;  // oldest queued nmeaNODE, null when empty
    void* end_node = nullptr;  // newest queued nmeaNODE, null when empty
    char* buffer = nullptr;    // bytes not yet cut into a sentence
    int buff_size = 0;         // capacity of buffer
    int buff_use = 0;          // bytes held at the start of buffer
};

// Allocates the buffer (prop's parser_buff_size, at least 256 bytes). A
// parser initialised before first releases its buffer and queued packs.
// 1 on success; 0 (after "Insufficient memory!") when allocation fails.
int nmea_parser_init(nmeaPARSER* parser);

// Releases the buffer and every queued pack and leaves the record empty,
// as declared. Safe on an empty record.
void nmea_parser_destroy(nmeaPARSER* parser);

// Pushes a block and applies every pack it completes to info, in order.
// Returns the number of packs applied.
int nmea_parse(nmeaPARSER* parser, const char* buff, int buff_sz, nmeaINFO* info);

// Pushes a block in chunks that leave the buffer at most one byte short of
// full (a negative length pushes nothing), so that the sentences and the
// held bytes after any cutting of a stream into blocks are those of feeding
// it one byte at a time: held bytes are dropped only when the buffer is
// full of bytes that end no sentence and another byte arrives. Returns the
// sum of the chunk results.
int nmea_parser_push(nmeaPARSER* parser, const char* buff, int buff_sz);

// Pushes at most buff_size bytes and queues every sentence they complete.
// Returns the bytes consumed from the buffer, or -1 when out of memory.
int nmea_parser_real_push(nmeaPARSER* parser, const char* buff, int buff_sz);

// Takes the oldest pack off the queue: returns its type and hands it to
// *pack_ptr (the caller frees it with free()); NMEA_NOPACK when the queue is
// empty, leaving *pack_ptr untouched.
int nmea_parser_pop(nmeaPARSER* parser, void** pack_ptr);

// Drops the held bytes. Always returns 1.
int nmea_parser_buff_clear(nmeaPARSER* parser);

}  // namespace vgps
