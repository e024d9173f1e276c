// Feeds arbitrary bytes, as the attribute bytes of a service search
// response, through the record walk and channel choice (and so through the
// record checks, libbluetooth's decoder and getters, and the listing).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/log.h"
#include "sdp/sdp_record_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Lines are still formatted, then dropped.
    static const bool quiet = [] {
        vgps::set_log_sink([](std::string_view) {});
        return true;
    }();
    (void)quiet;

    const vgps::bdaddr addr{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};
    const int channel = vgps::sdp_choose_rfcomm_channel(data, static_cast<uint32_t>(size), addr);
    if (channel < 0 || channel > 255) __builtin_trap();
    return 0;
}
