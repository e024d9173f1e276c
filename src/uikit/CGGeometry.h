// Geometry in points, as the toolkit measures everything: a point, a size
// and a rectangle of doubles, with the helper functions of the same names.
#pragma once

#include <algorithm>

namespace vgps {

struct CGPoint {
    double x = 0, y = 0;
    bool operator==(const CGPoint&) const = default;
};

struct CGSize {
    double width = 0, height = 0;
    bool operator==(const CGSize&) const = default;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
    bool operator==(const CGRect&) const = default;
};

inline CGPoint CGPointMake(double x, double y) { return {x, y}; }
inline CGSize CGSizeMake(double width, double height) { return {width, height}; }
inline CGRect CGRectMake(double x, double y, double width, double height) { return {{x, y}, {width, height}}; }

inline double CGRectGetMinX(const CGRect& r) { return r.origin.x; }
inline double CGRectGetMinY(const CGRect& r) { return r.origin.y; }
inline double CGRectGetMaxX(const CGRect& r) { return r.origin.x + r.size.width; }
inline double CGRectGetMaxY(const CGRect& r) { return r.origin.y + r.size.height; }
inline double CGRectGetMidX(const CGRect& r) { return r.origin.x + r.size.width / 2; }
inline double CGRectGetMidY(const CGRect& r) { return r.origin.y + r.size.height / 2; }
inline double CGRectGetWidth(const CGRect& r) { return r.size.width; }
inline double CGRectGetHeight(const CGRect& r) { return r.size.height; }

inline bool CGRectIsEmpty(const CGRect& r) { return r.size.width <= 0 || r.size.height <= 0; }

// Half-open on the far edges: a point on the right or bottom edge is outside.
inline bool CGRectContainsPoint(const CGRect& r, const CGPoint& p) {
    return p.x >= r.origin.x && p.y >= r.origin.y && p.x < CGRectGetMaxX(r) && p.y < CGRectGetMaxY(r);
}

inline bool CGRectIntersectsRect(const CGRect& a, const CGRect& b) {
    return !CGRectIsEmpty(a) && !CGRectIsEmpty(b) && a.origin.x < CGRectGetMaxX(b) &&
           b.origin.x < CGRectGetMaxX(a) && a.origin.y < CGRectGetMaxY(b) && b.origin.y < CGRectGetMaxY(a);
}

// The common part of two rectangles; an empty rectangle at (0, 0) when they
// do not meet.
inline CGRect CGRectIntersection(const CGRect& a, const CGRect& b) {
    const double x0 = std::max(a.origin.x, b.origin.x), y0 = std::max(a.origin.y, b.origin.y);
    const double x1 = std::min(CGRectGetMaxX(a), CGRectGetMaxX(b));
    const double y1 = std::min(CGRectGetMaxY(a), CGRectGetMaxY(b));
    if (x1 <= x0 || y1 <= y0) return {};
    return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}

inline CGRect CGRectOffset(const CGRect& r, double dx, double dy) {
    return CGRectMake(r.origin.x + dx, r.origin.y + dy, r.size.width, r.size.height);
}

inline CGRect CGRectInset(const CGRect& r, double dx, double dy) {
    return CGRectMake(r.origin.x + dx, r.origin.y + dy, r.size.width - 2 * dx, r.size.height - 2 * dy);
}

}  // namespace vgps
