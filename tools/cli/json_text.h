#pragma once

#include <QByteArray>
#include <QJsonObject>

namespace orvane::cli {

// The object as --json prints it: indented, one value a line, and an empty list or object
// on its line ("[]", "{}") as an empty string or a zero is, not opened on one line and
// closed on the next as Qt lays it out.
QByteArray JsonText(const QJsonObject& object);

}  // namespace orvane::cli
