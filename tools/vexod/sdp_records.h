// Service records of the simulated radio, encoded the way a remote device
// answers a service search: one data element sequence holding each record's
// attribute list. Built with libbluetooth's record API.
#pragma once

#include <cstdint>
#include <vector>

#include "scenario.h"

namespace vexod {

// The attribute lists of `services`, in order, wrapped in one sequence.
// Record handles count up from 0x00010000.
std::vector<uint8_t> build_attribute_lists(const std::vector<Service>& services);

}  // namespace vexod
