// Opening the clip browser on a large clip index: N entries (100,000 by default) spread over
// a number of channels are written once through the clip index, then the browser is built on
// them offscreen: construction, loading and grouping the index, filling the tree, and then
// filling the list with the largest channel. Prints each step in milliseconds.
//   bench_clip_browser [--entries 100000] [--channels 16] [--runs 3]
// With --delete-channel N: N clips of one channel (entries in a store file, small clip and
// preview files on disk) deleted with the channel's context menu, as the operator does it:
// the seconds until every file and entry is gone, and the longest the GUI thread went without
// turning its event loop meanwhile. --gui-thread does the same the way it was done before
// (an entry and its files at a time, on the GUI thread), for comparison.
#include "playback/clip_browser_dialog.h"
#include "shared/prompt_service.h"
#include "store/clip_index.h"
#include "store/clip_removal.h"
#include "store/key_store.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using orvane::ClipBrowserDialog;
using orvane::ClipHousekeeper;
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

// Says OK to the question before deleting.
class AnswerOk : public orvane::PromptAnswerer {
  public:
    orvane::PromptAnswer Answer(QWidget*, const orvane::PromptRequest&) override {
        return orvane::PromptAnswer::Ok;
    }
};

// The longest gap between two turns of the event loop while it runs.
class StallMeter {
  public:
    StallMeter() {
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, clock_.nsecsElapsed());
            clock_.restart();
        });
    }
    void Start() {
        longest_ = 0;
        clock_.start();
        timer_.start();
    }
    // Counts the stall the caller itself ends in, too.
    double LongestMs() {
        longest_ = std::max(longest_, clock_.nsecsElapsed());
        return static_cast<double>(longest_) / 1e6;
    }

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

int DeleteChannel(int clips, bool onGuiThread) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/clips/";
    QDir().mkpath(folder);
    KeyStore store = std::move(*KeyStore::Open((dir.path() + "/store.db").toStdString()).store);
    {
        ClipIndex index(store, [](std::int32_t) { return QString("Gate"); });
        // Written in one go: the figure is the deletion, not this.
        store.WriteTogether([&] {
            const QDateTime first(QDate(2002, 12, 3), QTime(0, 0));
            for (int i = 0; i < clips; ++i) {
                const QDateTime start = first.addSecs(60LL * i);
                ClipRecord record;
                record.channel = 1;
                record.fileName = start.toString("yyyyMMddHHmmss") + "0001.avi";
                record.imageName = orvane::ImageNameOf(record.fileName);
                record.startDate = record.endDate = start.toString("yyyy/MM/dd");
                record.startTime = record.endTime = start.toString("HH:mm");
                record.path = folder;
                index.AddClipRecord(record);
                for (const QString& name : {record.fileName, record.imageName}) {
                    QFile file(folder + name);
                    file.open(QIODevice::WriteOnly);
                    file.write(QByteArray(4096, 'x'));
                }
            }
            return true;
        });
    }
    ::sync();
    AnswerOk ok;
    orvane::PromptService::SetAnswerer(&ok);
    ClipIndex index(store, {});
    ClipHousekeeper housekeeper(store);
    ClipBrowserDialog dialog(index, housekeeper,
                             [](const ClipRecord&, QWidget*) { return nullptr; });
    dialog.SelectChannel(dialog.channelTree()->topLevelItem(0)->text(0));
    StallMeter stalls;
    QElapsedTimer clock;
    stalls.Start();
    clock.start();
    if (onGuiThread) {
        // As it was: each entry its own durable transaction, each file unlinked, in the
        // handler of the menu, so nothing else runs meanwhile.
        QTimer::singleShot(0, [&] {
            for (const auto& row : dialog.clipModel()->rows()) {
                index.DeleteClipRecord(row.fileName);
                ::unlink((folder + row.fileName).toLocal8Bit().constData());
                ::unlink((folder + orvane::ImageNameOf(row.fileName)).toLocal8Bit().constData());
            }
        });
        QCoreApplication::processEvents();
    } else {
        QTimer::singleShot(0, [&] { dialog.DeleteChannelClips(); });
        QCoreApplication::processEvents();
        while (housekeeper.pending() > 0) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const double stall = stalls.LongestMs();
    std::vector<ClipRecord> left;
    index.LoadClipRecords(left);
    std::printf(
        "deleting %d clips of one channel %s: %.2f s, longest stall of the GUI thread %.1f ms, "
        "%zu entries left\n",
        clips, onGuiThread ? "(the old way, on the GUI thread)" : "(off the GUI thread)", seconds,
        stall, left.size());
    orvane::PromptService::SetAnswerer(nullptr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApp(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"entries", "Index entries.", "n", "100000"},
                       {"channels", "Channels they are spread over.", "n", "16"},
                       {"runs", "Openings of the browser.", "n", "3"},
                       {"delete-channel", "Clips of one channel to delete instead.", "n", "0"},
                       {"gui-thread", "Delete them the old way, on the GUI thread."}});
    parser.process(qtApp);
    if (const int clips = parser.value("delete-channel").toInt(); clips > 0) {
        return DeleteChannel(clips, parser.isSet("gui-thread"));
    }
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
        ClipHousekeeper housekeeper(empty);
        ClipBrowserDialog warmUp(none, housekeeper,
                                 [](const ClipRecord&, QWidget*) { return nullptr; });
    }

    ClipIndex index(store, {});
    ClipHousekeeper housekeeper(store);
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
        ClipBrowserDialog dialog(index, housekeeper,
                                 [](const ClipRecord&, QWidget*) { return nullptr; });
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
