// Listing a large folder in the record path dialog's tree: a folder of N subfolders (30,000 by
// default) made in a temporary folder, then listed as the operator's click on it lists it.
// Prints the milliseconds of each listing (offscreen).
//   bench_record_path [--folders 30000] [--runs 3]
#include "store/key_store.h"
#include "store/record_path_dialog.h"
#include "store/settings.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"folders", "subfolders in the folder listed", "n", "30000"},
                       {"runs", "listings, each in a new dialog", "n", "3"}});
    parser.process(app);
    const int folders = parser.value("folders").toInt();
    const int runs = parser.value("runs").toInt();

    QTemporaryDir disk;
    const std::filesystem::path big = disk.filePath("big").toStdString();
    std::filesystem::create_directory(big);
    for (int i = 0; i < folders; ++i) {
        std::filesystem::create_directory(big / std::to_string(i));
    }
    orvane::Settings settings{orvane::KeyStore::OpenInMemory()};
    const std::vector<orvane::VolumeRoot> roots{{disk.path().toStdString(), false}};
    for (int run = 0; run < runs; ++run) {
        orvane::RecordPathDialog dialog(settings, nullptr, [&] { return roots; });
        dialog.LoadChildren(dialog.tree()->topLevelItem(0));
        QTreeWidgetItem* item = dialog.tree()->topLevelItem(0)->child(0);
        QElapsedTimer clock;
        clock.start();
        dialog.LoadChildren(item);
        std::printf("listing %d folders: %lld ms (%d items)\n", folders,
                    static_cast<long long>(clock.elapsed()), item->childCount());
    }
    // Emptied in the order made: any other order takes minutes on some file systems.
    for (int i = 0; i < folders; ++i) {
        std::filesystem::remove(big / std::to_string(i));
    }
    return 0;
}
