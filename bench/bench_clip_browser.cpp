// Opening the clip browser on a large clip index: N entries (100,000 by default) spread over
// a number of channels are written once through the clip index, then the browser is built on
// them offscreen: construction, loading and grouping the index, filling the tree, and then
// filling the list with the largest channel. Prints each step in milliseconds.
//   bench_clip_browser [--entries 100000] [--channels 16] [--runs 3]
#include "playback/clip_browser_dialog.h"
#include "store/clip_index.h"
#include "store/key_store.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using orvane::ClipBrowserDialog;
using orvane::ClipIndex;
using orvane::ClipRecord;
using orvane::KeyStore;

// One clip a minute, round the channels, as a busy recorder would leave them.
void WriteIndex(KeyStore& store, int entries, int channels) {
    ClipIndex index(store, [](std::int32_t channel) { return QString("Camera %1").arg(channel); });
    const QDateTime first(QDate(2002, 12, 3), QTime(0, 0));
    for (int i = 0; i < entries; ++i) {
        const QDateTime start = first.addSecs(60LL * i);
        const QDateTime end = start.addSecs(50);
        ClipRecord record;
        record.channel = i % channels + 1;
        const QString stem =
            start.toString("yyyyMMddHHmmss") + QString::asprintf("%04d", record.channel);
        record.fileName = stem + ".avi";
        record.imageName = stem + ".img";
        record.open = i % 3 == 0 ? 1 : 0;
        record.startDate = start.toString("yyyy/MM/dd");
        record.startTime = start.toString("HH:mm");
        record.endDate = end.toString("yyyy/MM/dd");
        record.endTime = end.toString("HH:mm");
        record.path = "/var/lib/orvane/clips/";
        index.AddClipRecord(record);
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApp(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"entries", "Index entries.", "n", "100000"},
                       {"channels", "Channels they are spread over.", "n", "16"},
                       {"runs", "Openings of the browser.", "n", "3"}});
    parser.process(qtApp);
    const int entries = parser.value("entries").toInt();
    const int channels = std::max(1, parser.value("channels").toInt());
    const int runs = std::max(1, parser.value("runs").toInt());

    // In memory: a store file syncs every value it writes, which would take hours here.
    KeyStore store = KeyStore::OpenInMemory();
    QElapsedTimer clock;
    clock.start();
    WriteIndex(store, entries, channels);
    std::printf("wrote %d index entries over %d channels in %.0f ms\n", entries, channels,
                static_cast<double>(clock.elapsed()));

    // The program has its style, fonts and icons ready long before the browser opens.
    {
        KeyStore empty = KeyStore::OpenInMemory();
        ClipIndex none(empty, {});
        ClipBrowserDialog warmUp(none, [](const ClipRecord&, QWidget*) { return nullptr; });
    }

    ClipIndex index(store, {});
    clock.restart();
    std::vector<ClipRecord> records;
    index.LoadClipRecords(records);
    std::printf("the index alone reads in %.1f ms\n",
                static_cast<double>(clock.nsecsElapsed()) / 1e6);
    records.clear();
    records.shrink_to_fit();

    double best = -1;
    for (int run = 0; run < runs; ++run) {
        clock.restart();
        ClipBrowserDialog dialog(index, [](const ClipRecord&, QWidget*) { return nullptr; });
        const double opened = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        QTreeWidgetItem* first = dialog.channelTree()->topLevelItem(0);
        dialog.SelectChannel(first ? first->text(0) : QString());
        const double listed = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        std::printf(
            "run %d: opened (load, group, tree) in %.1f ms; list of %d clips filled "
            "%.1f ms later; %.1f ms in all\n",
            run + 1, opened, dialog.clipModel()->rowCount(), listed - opened, listed);
        best = best < 0 ? listed : std::min(best, listed);
    }
    std::printf("clip browser on %d entries: %.1f ms (best of %d)\n", entries, best, runs);
    return 0;
}
