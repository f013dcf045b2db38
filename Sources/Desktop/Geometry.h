// Points, sizes and rectangles in the window system's global space: points, origin at the
// bottom-left of the primary screen, y upwards. Plain values; any thread.
#pragma once

#include <algorithm>

namespace desktop {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;

    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    double width() const { return size.width; }
    double height() const { return size.height; }
    bool isEmpty() const { return size.width <= 0 || size.height <= 0; }

    // Half-open like the platform's: the maximum edges are outside.
    bool contains(Point p) const {
        return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
    }
    // Touching edges do not intersect; an empty rectangle intersects nothing.
    bool intersects(const Rect& other) const {
        if (isEmpty() || other.isEmpty()) return false;
        return std::max(minX(), other.minX()) < std::min(maxX(), other.maxX()) &&
               std::max(minY(), other.minY()) < std::min(maxY(), other.maxY());
    }
    bool operator==(const Rect&) const = default;
};

inline Rect makeRect(double x, double y, double width, double height) {
    return Rect{{x, y}, {width, height}};
}

}  // namespace desktop
