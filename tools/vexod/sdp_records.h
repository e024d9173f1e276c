// Service records of the simulated radio, encoded the way a remote device
// answers a service search: one data element sequence holding each record's
// attribute list. Built with libbluetooth's record API.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vgps::sim {

struct ServiceSpec {
    std::string name;               // primary-language service name; empty: none
    uint8_t rfcomm_channel = 0;     // 0: the service runs on L2CAP alone
    uint16_t service_class = 0x1101;  // Serial Port unless told otherwise
};

// The attribute lists of `services`, in order, wrapped in one sequence.
// Record handles count up from 0x00010000.
std::vector<uint8_t> build_attribute_lists(const std::vector<ServiceSpec>& services);

}  // namespace vgps::sim
