#pragma once

#include <QStringList>

namespace orvane {

// True when the command line asks for an embedded or automated start ("/Embedding",
// "-Automation", any letter case). Such a start shows no splash; nothing else on the command
// line has any effect.
bool IsEmbeddedStart(const QStringList& arguments);

}  // namespace orvane
