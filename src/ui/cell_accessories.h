// The replaceable accessory views of the cells: tagged views that each
// layout takes out of a content view and puts back.
#pragma once

#include <memory>

#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIView.h"

namespace vgps {

// Removes the views tagged `tag` below `container`, searching again after
// each removal until none is left (or only `limit` of them). The container
// itself is never removed, whatever its tag.
void remove_tagged_views(UIView* container, int tag, int limit = -1);

// The cells' gray spinner: frame (10, 13, 25, 25), with the tag.
std::shared_ptr<UIActivityIndicatorView> make_cell_spinner(int tag);

}  // namespace vgps
