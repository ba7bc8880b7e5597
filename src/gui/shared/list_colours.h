#pragma once

#include <QAbstractItemView>
#include <QColor>
#include <QPalette>

namespace orvane {

// The pale yellow of the program's report lists (clips, events, sites).
inline QColor ListBackground() {
    return QColor(255, 255, 220);
}

// Gives a report list its background, alternate rows included.
inline void PaintListBackground(QAbstractItemView* list) {
    QPalette colours = list->palette();
    colours.setColor(QPalette::Base, ListBackground());
    colours.setColor(QPalette::AlternateBase, ListBackground());
    list->setPalette(colours);
}

}  // namespace orvane
