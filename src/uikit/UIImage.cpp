#include "uikit/UIImage.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "platform/log.h"
#include "uikit/resources.h"

namespace vgps {
namespace {

uint32_t big_endian32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace

std::shared_ptr<UIImage> UIImage::imageNamed(const std::string& name) {
    static std::map<std::string, std::shared_ptr<UIImage>> cache;
    const auto path = resource_path(name);
    if (!path) return nullptr;
    if (auto it = cache.find(*path); it != cache.end()) return it->second;

    FILE* f = std::fopen(path->c_str(), "rb");
    if (f == nullptr) return nullptr;  // a missing image is no error
    // Signature, then the IHDR chunk: length, type, width, height.
    unsigned char head[24];
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const bool png = n == sizeof head && std::memcmp(head, kSignature, 8) == 0 && std::memcmp(head + 12, "IHDR", 4) == 0;
    const uint32_t width = png ? big_endian32(head + 16) : 0, height = png ? big_endian32(head + 20) : 0;
    if (!png || width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff) {
        log_error("<%s> not a PNG image: %s", "+[UIImage imageNamed:]", path->c_str());
        return nullptr;
    }
    auto image = std::make_shared<UIImage>(name, *path, CGSizeMake(width, height));
    cache.emplace(*path, image);
    return image;
}

}  // namespace vgps
