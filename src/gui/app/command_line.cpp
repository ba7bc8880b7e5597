#include "app/command_line.h"

namespace orvane {

bool IsEmbeddedStart(const QStringList& arguments) {
    // The first argument is the program itself.
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg.size() < 2 || (arg[0] != u'/' && arg[0] != u'-')) {
            continue;
        }
        const QString name = arg.mid(1);
        if (name.compare(u"Embedding", Qt::CaseInsensitive) == 0 ||
            name.compare(u"Automation", Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace orvane
