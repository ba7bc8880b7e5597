#pragma once

#include <QString>
#include <QStringList>

namespace orvane {

// Where "Online help" finds the operator's guide, best first, for a program in `programDir`:
// the installed pages (PREFIX/bin -> PREFIX/share/orvane/help), then the pages a build renders
// next to the program (BUILD/src/app -> BUILD/help).
QStringList HelpIndexCandidates(const QString& programDir);

// The first of those index pages that exists, or empty text: then the built-in page serves.
QString FindHelpIndex(const QString& programDir);

}  // namespace orvane
