#include "json_text.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace orvane::cli {

QByteArray JsonText(const QJsonObject& object) {
    // A line end inside a string is written escaped, so a bracket followed by a line end can
    // only be the layout's own.
    static const QRegularExpression openedAndClosed(QStringLiteral("([[{])\\n *([]}])"));
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented))
        .replace(openedAndClosed, QStringLiteral("\\1\\2"))
        .toUtf8();
}

}  // namespace orvane::cli
