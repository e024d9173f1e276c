// Taking the tagged accessory views out of a cell's content view.
#pragma once

#include "uikit/UIView.h"

namespace vgps {

// Removes the views tagged `tag` below `container`, searching again after
// each removal until none is left (or only `limit` of them). The container
// itself is never removed, whatever its tag.
void remove_tagged_views(UIView* container, int tag, int limit = -1);

}  // namespace vgps
