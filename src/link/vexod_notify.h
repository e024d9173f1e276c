// Messages the daemon sends on its own (notifications): noticing one on the
// daemon socket, reading and checking it, and handing its fields to one
// handler per function id. The handlers report upward through the
// notification target that the layer owning the connection installs; this
// layer never knows that layer's types.
#pragma once

#include <cstdint>
#include <memory>

#include "link/vexod_wire.h"
#include "registry/BTDevice.h"
#include "registry/bdaddr.h"

namespace vgps {

class BTDeviceCache;
class Socket;

// What the handlers need of the layer above: the daemon manager's
// operations, named after them.
class VexodNotificationTarget {
public:
    virtual ~VexodNotificationTarget() = default;
    virtual void serviceQueryResponse_remote_patten_patten_len_attribute_attribute_len_result(
        int fd, bdaddr remote, const uint8_t* patten, uint32_t patten_len, const uint8_t* attribute,
        uint32_t attribute_len, uint32_t result) = 0;
    virtual void inquiryCompleted() = 0;
    virtual void foundNewDevice(std::shared_ptr<BTDevice> device) = 0;
    virtual void getName_length_forDevice(const char* name, uint32_t length, bdaddr address) = 0;
    virtual void connectWithSocketPath_status(const char* path, int32_t status) = 0;
    virtual int32_t state() const = 0;
    virtual void stateChangedFrom_To(int32_t from, int32_t to) = 0;
    virtual void disconnectFromDaemon() = 0;
    // The device list that inquiry results go into.
    virtual BTDeviceCache* deviceList() = 0;
};

// Installs the target (not owned; null for none) and returns the previous.
// Without a target the handlers do their own part (logging, the
// process-wide device list) and report nothing.
VexodNotificationTarget* vexod_set_notification_target(VexodNotificationTarget* target);

// Run-loop callback of the daemon socket. For the read callback it serves
// exactly one message when the descriptor is readable; any other type is
// logged.
void vexod_rpc_callback(Socket* s, uint32_t type, const void* address, const void* data, void* info);

// Reads one message and dispatches it. 0 when a message was read (handled
// or dropped); 1 to 5 as the frame checks of the response path. A
// notification held while a request waited (vexod_rpc1.h) is older than
// anything still in the socket: while one is held, the oldest is served
// instead of a read.
int vexod_rpc_serve(int fd);

// Serves every notification held for `fd`, oldest first (also those held
// meanwhile by requests their handlers send). The number served.
size_t vexod_serve_held(int fd);

// Handlers. Each variable field arrives as a copy of length + 1 bytes ending
// in 0, with its length. Each returns 0.
int notify_service_attribute_search_response(int fd, bdaddr remote, const uint8_t* patten, uint32_t patten_len,
                                             const uint8_t* attribute, uint32_t attribute_len, uint32_t result);
int notify_inquiry_complete(int fd, uint32_t status);
int notify_inquiry_canceled(int fd, uint32_t status);
int notify_inquiry_result(int fd, bdaddr address, uint16_t value16, const uint8_t device_class[3], const char* text,
                          uint32_t text_len, uint32_t value32);
int notify_requst_name_complete(int fd, bdaddr address, const char* name, uint32_t name_len, uint32_t result);
int notify_rfcomm_connected(int fd, bdaddr address, uint8_t channel, const char* path, uint32_t path_len,
                            int32_t result);
int notify_rfcomm_disconnected(int fd, bdaddr address, uint8_t channel, uint32_t value32);
int notify_l2cap_connected(int fd, bdaddr address, uint16_t value16, const char* path, uint32_t path_len,
                           int32_t result);
int notify_l2cap_disconnected(int fd, bdaddr address, uint16_t value16, uint32_t value32);
int notify_rfcomm_accepted(int fd, bdaddr address, uint8_t channel, const char* path, uint32_t path_len,
                           int32_t result);
int notify_sco_accepted(int fd, bdaddr address, const char* path, uint32_t path_len, int32_t result);
int notify_sco_disconnected(int fd, bdaddr address, uint32_t value32);

}  // namespace vgps
