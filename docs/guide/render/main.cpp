// orvane-guide-html SOURCE_DIR OUTPUT_DIR: renders the operator's guide into HTML pages.
#include "guide_html.h"

#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    // Fonts and text layout need a GUI application; no window is ever shown.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() != 3) {
        err << "usage: orvane-guide-html SOURCE_DIR OUTPUT_DIR\n";
        return 2;
    }
    QString error;
    if (!orvane::guide::RenderGuide(args.at(1), args.at(2), error)) {
        err << "orvane-guide-html: " << error << "\n";
        return 1;
    }
    return 0;
}
