// What the platform tells about the device the program runs on.
#pragma once

#include <string>

namespace vgps {

// The model name shown by the platform, "Linux" unless set. The model
// "iPhone Simulator" makes the daemon link use its development transport.
std::string device_model();
// Replaces the model (tests and development set-ups).
void set_device_model(const std::string& model);

}  // namespace vgps
