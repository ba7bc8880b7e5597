#pragma once

#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>

namespace orvane::test {

// The shared sample media beside the checkout (never copied into it). Empty when absent.
inline QString MediaSample(const QString& name) {
    const QString dir = QString::fromUtf8(ORVANE_SHARED_MEDIA_DIR);
    const QString path = QDir(dir).filePath(name);
    return QFile::exists(path) ? path : QString();
}

// Mean absolute difference per colour channel of two pictures of the same size (255 when
// the sizes differ).
double MeanDifference(const QImage& a, const QImage& b);

}  // namespace orvane::test
