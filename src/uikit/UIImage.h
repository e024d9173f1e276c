// An image loaded by name from the resource folder (resources.h). The
// toolkit reads only the PNG header, for the size; front-ends load the
// pixels from path() if they draw them.
#pragma once

#include <memory>
#include <string>

#include "uikit/CGGeometry.h"

namespace vgps {

class UIImage {
public:
    // The image of that name, or null when the file is missing or is not a
    // PNG image (a malformed file is logged). Images are kept once loaded.
    static std::shared_ptr<UIImage> imageNamed(const std::string& name);

    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }
    CGSize size() const { return size_; }

    UIImage(std::string name, std::string path, CGSize size)
        : name_(std::move(name)), path_(std::move(path)), size_(size) {}

private:
    std::string name_;
    std::string path_;
    CGSize size_;
};

}  // namespace vgps
