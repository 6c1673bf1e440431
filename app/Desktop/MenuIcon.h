#pragma once
#include <QColor>
#include <QIcon>
#include <QImage>

// The tray's picture: a rising staircase of ten rounded cells, like a stepped wall of panels.
namespace MenuIcon {

// The staircase, 18 × 15 at scale 1, centred in a square of 18 × scale, in one colour.
QImage image(const QColor& colour, int scale);
// Drawn sharp at each size a panel may ask for.
QIcon make(const QColor& colour);

} // namespace MenuIcon
