#include "media/print_layout.h"

#include <algorithm>

namespace orvane {
namespace {

// Single precision, cut toward zero: the sizes printed have always come out of this
// arithmetic, and a double would move some of them by a pixel.
float FactorOf(double screenDpi, double printerDpi) {
    const auto screen = static_cast<float>(screenDpi);
    const auto printer = static_cast<float>(printerDpi);
    if (screen <= 0 || printer <= 0) {
        return 1.0f;
    }
    return std::max(screen, printer) / std::min(screen, printer);
}

int Scaled(int length, float factor) {
    return static_cast<int>(static_cast<float>(length) * factor);
}

}  // namespace

PrintPlacement PlaceForPrint(QSize picture, QSizeF screenDpi, QSizeF printerDpi,
                             QSize printablePage) {
    const float factorX = FactorOf(screenDpi.width(), printerDpi.width());
    const float factorY = FactorOf(screenDpi.height(), printerDpi.height());
    const int width = Scaled(picture.width(), factorX);
    const int height = Scaled(picture.height(), factorY);
    const int x = printablePage.width() / 2 - width / 2;
    const int y = printablePage.height() / 2 - height / 2;
    return {QRect(x, y, width, height), factorX, factorY};
}

}  // namespace orvane
