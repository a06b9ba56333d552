#pragma once

#include <QPixmap>

// The three 32 x 32 sample sprites the colour picker shows over the chosen colour, drawn
// here so they need no files: a cloud, a globe and a sun, on a transparent background.
QPixmap cloudIcon();
QPixmap globeIcon();
QPixmap sunIcon();
