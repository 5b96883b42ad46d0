#pragma once

namespace platform {

// Screen geometry in points, y growing upward: the origin is the bottom-left corner of the main screen.
// Backends whose toolkit counts y downward flip at their edge; everything above them works in these
// coordinates.
struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double width = 0;
  double height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// `origin` is the bottom-left corner.
struct Rect {
  Point origin;
  Size size;

  double minX() const { return origin.x; }
  double maxX() const { return origin.x + size.width; }
  double minY() const { return origin.y; }
  double maxY() const { return origin.y + size.height; }

  // Whether the pointer at `p` lies in this rectangle. The left and bottom edges belong to the
  // neighbour: a pointer can sit on the top row of a screen (y == maxY) but never on y == minY, so
  // two stacked screens never both claim it.
  bool containsPointer(Point p) const {
    return p.x >= minX() && p.x < maxX() && p.y > minY() && p.y <= maxY();
  }
  // The area shared with `other`; 0 when they do not overlap.
  double intersectionArea(const Rect& other) const;

  friend bool operator==(const Rect&, const Rect&) = default;
};

inline double Rect::intersectionArea(const Rect& other) const {
  const double w =
      (maxX() < other.maxX() ? maxX() : other.maxX()) - (minX() > other.minX() ? minX() : other.minX());
  const double h =
      (maxY() < other.maxY() ? maxY() : other.maxY()) - (minY() > other.minY() ? minY() : other.minY());
  return w > 0 && h > 0 ? w * h : 0;
}

}  // namespace platform
