#pragma once

#include <QRect>
#include <QSize>
#include <QSizeF>

namespace orvane {

// Where a picture goes on a printed page.
struct PrintPlacement {
    QRect target;  // printer device pixels
    double factorX = 1;
    double factorY = 1;
};

// A picture printed at the size it has on the screen, centred on the printable page. Per
// axis it is enlarged by the larger resolution over the smaller, so a printer coarser than
// the screen enlarges too rather than shrinking the picture.
PrintPlacement PlaceForPrint(QSize picture, QSizeF screenDpi, QSizeF printerDpi,
                             QSize printablePage);

}  // namespace orvane
