// The record walk of a service search response and the choice of the RFCOMM
// channel to connect. The daemon manager calls it from its response handler
// and sends the connect request itself; nothing here sends anything.
#pragma once

#include <cstdint>

#include "registry/bdaddr.h"

namespace vgps {

// The reporting name of every log line of the walk: the response handler's.
inline constexpr const char* kServiceQueryResponseName =
    "-[DaemonManager serviceQueryResponse:remote:patten:patten_len:attribute:attribute_len:result:]";

// Decodes the attribute bytes of a service search response (a data element
// sequence of attribute lists, one per service record), lists every record
// in the log, and chooses the channel: the RFCOMM channel of the last record
// whose primary-language service name contains "GPS" (any case) when more
// than one record has a protocol descriptor list, else the first RFCOMM
// channel found. Logs "BD_ADDR: ..." with `addr` when a channel is found,
// "No rfcomm channel found" when none is. Returns the channel, or 0 for
// none. Hostile bytes are checked before libbluetooth sees them; the walk
// stops at the first record that is not well formed.
int sdp_choose_rfcomm_channel(const uint8_t* attrs, uint32_t len, bdaddr addr);

}  // namespace vgps
