// The real radio: the Radio of the daemon on BlueZ. The BlueZ client serves
// power, inquiries and names; each service search opens an L2CAP socket to
// the device's SDP server for an SdpSearch; each RFCOMM connect opens an
// RFCOMM socket and, once it is connected, bridges it to a data socket for
// the application.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "bluez/bluez_client.h"
#include "bluez/io_watch.h"
#include "bluez/rfcomm_bridge.h"
#include "bluez/sdp_search.h"
#include "platform/run_loop.h"
#include "radio.h"

namespace vexod::bluez {

struct BluezRadioOptions {
    BluezOptions bluez;
    // 8 periods of 1.28 s, the usual length of a classic inquiry.
    std::chrono::milliseconds inquiry_length{10240};
    // From the request to the whole answer (the connection included).
    std::chrono::milliseconds search_timeout{20000};
    std::chrono::milliseconds connect_timeout{20000};
    // How long start() waits for BlueZ's first answer.
    std::chrono::milliseconds start_timeout{5000};
    // How long request 6 waits for the adapter to say it is on before it
    // is answered that the radio is off (the application's own wait for a
    // response is 5 s).
    std::chrono::milliseconds power_timeout{4000};
    BridgeOptions bridge;
    // The sockets to the device (bt_sockets.h, linked into vexod; tests put
    // socket pairs or local sockets in their place). Both must be set.
    std::function<int(const vgps::bdaddr& local, const vgps::bdaddr& device)> open_sdp;
    std::function<int(const vgps::bdaddr& local, const vgps::bdaddr& device, uint8_t channel)> open_rfcomm;
};

class BluezRadio : public Radio, private BluezListener {
public:
    BluezRadio(vgps::RunLoop* loop, BluezRadioOptions options);
    ~BluezRadio() override;

    bool start(RadioListener* listener, std::string* error) override;
    std::string describe() const override;
    bool powered() const override;
    void power_on(std::function<void(bool on)> done) override;
    void start_inquiry() override;
    void request_name(const vgps::bdaddr& address) override;
    bool search_well_formed(const std::vector<uint8_t>& pattern,
                            const std::vector<uint8_t>& attribute_ids) const override;
    void service_search(const vgps::bdaddr& address, const std::vector<uint8_t>& pattern,
                        const std::vector<uint8_t>& attribute_ids, uint16_t max_bytes) override;
    void rfcomm_connect(const vgps::bdaddr& address, uint8_t channel) override;
    void client_left() override;

private:
    struct Link {
        vgps::bdaddr address;
        uint8_t channel;
        int fd = -1;  // until the bridge has it
        std::unique_ptr<ConnectWait> connecting;
        std::unique_ptr<RfcommBridge> bridge;
    };

    void bluez_adapter_changed(const std::string& adapter) override;
    void bluez_device_found(const vgps::bdaddr& address, uint32_t device_class) override;
    void bluez_inquiry_complete(bool canceled) override;
    void bluez_name_result(const vgps::bdaddr& address, const std::optional<std::string>& name) override;

    void link_connected(uint64_t id, int error);
    void link_failed(uint64_t id, uint32_t result);
    // Runs `fn` after `delay` unless the client leaves first.
    vgps::RunLoop::TimerId after(std::chrono::milliseconds delay, std::function<void()> fn);

    vgps::RunLoop* loop_;
    BluezRadioOptions options_;
    BluezClient client_;
    RadioListener* listener_ = nullptr;
    std::map<uint64_t, std::unique_ptr<SdpSearch>> searches_;
    std::map<uint64_t, Link> links_;
    uint64_t next_id_ = 1;
    std::set<vgps::RunLoop::TimerId> deferred_;  // timers of after()
};

}  // namespace vexod::bluez
