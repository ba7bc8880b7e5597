#pragma once

#include <QString>
#include <QStringList>

namespace orvane {

// True when the command line asks for an embedded or automated start ("/Embedding",
// "-Automation", any letter case). Such a start shows no splash.
bool IsEmbeddedStart(const QStringList& arguments);

// The program's command line as read before Qt starts (the first argument is the program).
struct StartArguments {
    QStringList clips;     // clip files to open, absolute
    QString unknown;       // the first argument that is none of the others; empty when none
    QString platform;      // the value of Qt's -platform option; empty when not given
    bool display = false;  // Qt's -display option names the X display
};

// Sorts the command line: Qt's own options with their values, "/Embedding" and "/Automation",
// and clips (a name ending in ".avi", an existing file, or anything after "--"). Relative clip
// names are taken from the current folder.
StartArguments ReadStartArguments(const QStringList& arguments);

}  // namespace orvane
