#include "platform/device_info.h"

namespace vgps {
namespace {
std::string& model_slot() {
    static std::string model = "Linux";
    return model;
}
}  // namespace

std::string device_model() { return model_slot(); }
void set_device_model(const std::string& model) { model_slot() = model; }

}  // namespace vgps
