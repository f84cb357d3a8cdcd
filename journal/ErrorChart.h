// The chart of a protocol: relative error against flow, the allowed band shaded, forward and reverse points
// told apart by shape as well as colour (a printout may be black and white). Drawn with QPainter alone, so it
// prints exactly as it shows and needs no chart library.
#pragma once

#include "journal/JournalTypes.h"

#include <QRectF>

#include <vector>

class QPainter;

namespace rv::journal {

// Draws into `area` (device units of the painter) the measured points; a point whose figures are not
// numbers is left out. With no measured point it says so inside the frame.
void DrawErrorChart(QPainter& painter, const QRectF& area, const std::vector<SVerificationPoint>& points);

}  // namespace rv::journal
