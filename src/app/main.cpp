#include "app/viewer_app.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName("Orvane");
    QApplication::setOrganizationName("Quillmar-Brakken");

    orvane::ViewerApp app;
    switch (app.InitInstance(QApplication::arguments())) {
        case orvane::ViewerApp::StartResult::Started:
            return app.ExitInstance(QApplication::exec());
        case orvane::ViewerApp::StartResult::Declined:
            return app.ExitInstance(0);
        case orvane::ViewerApp::StartResult::Failed:
            break;
    }
    return app.ExitInstance(1);
}
