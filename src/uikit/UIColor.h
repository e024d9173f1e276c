// Colours as red, green, blue and alpha components from 0 to 1, with the
// toolkit's named colours.
#pragma once

namespace vgps {

struct UIColor {
    double red = 0, green = 0, blue = 0, alpha = 1;
    bool operator==(const UIColor&) const = default;

    static UIColor colorWithRed_green_blue_alpha(double r, double g, double b, double a) { return {r, g, b, a}; }
    static UIColor colorWithWhite_alpha(double white, double a) { return {white, white, white, a}; }

    static UIColor blackColor() { return {0, 0, 0, 1}; }
    static UIColor whiteColor() { return {1, 1, 1, 1}; }
    static UIColor clearColor() { return {0, 0, 0, 0}; }
    static UIColor darkGrayColor() { return {1.0 / 3, 1.0 / 3, 1.0 / 3, 1}; }
    static UIColor grayColor() { return {0.5, 0.5, 0.5, 1}; }
    static UIColor lightGrayColor() { return {2.0 / 3, 2.0 / 3, 2.0 / 3, 1}; }
    static UIColor darkTextColor() { return {0, 0, 0, 1}; }
    static UIColor redColor() { return {1, 0, 0, 1}; }
    static UIColor greenColor() { return {0, 1, 0, 1}; }
    static UIColor blueColor() { return {0, 0, 1, 1}; }
    // The background behind grouped tables: a light blue-gray.
    static UIColor groupTableViewBackgroundColor() { return {0.773, 0.8, 0.831, 1}; }
};

}  // namespace vgps
