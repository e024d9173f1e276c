// A font by name and size in points. The system fonts are "Helvetica" and
// "Helvetica-Bold"; front-ends map names to the nearest font they have, or
// to plain and bold text.
#pragma once

#include <string>

namespace vgps {

struct UIFont {
    std::string name = "Helvetica";
    double pointSize = 17;
    bool bold = false;
    bool operator==(const UIFont&) const = default;

    static UIFont systemFontOfSize(double size) { return {"Helvetica", size, false}; }
    static UIFont boldSystemFontOfSize(double size) { return {"Helvetica-Bold", size, true}; }
    // Bold when the name says so ("Arial-BoldMT", "Helvetica-Bold").
    static UIFont fontWithName_size(const std::string& name, double size);

    // The width a text would take in this font, estimated from its length
    // (every character half the point size and a little more): used where
    // the toolkit itself has to place text (back button, alerts).
    double estimatedWidthOfText(const std::string& text) const;
};

}  // namespace vgps
