// Deleting old clips keeping a filling volume above its limit while channels record into it.
// Writer threads stand in for the recordings: each appends frames at a steady rate to its
// clip, starts a new clip (file, preview, index entry through a store connection of its own)
// every few seconds, and holds its clip as in use. The program's disk check runs on its timer
// with "Delete the oldest clips when disk space is low" on. Give it a small volume of its own
// (scripts/bench mounts a tmpfs in a private mount namespace); free space is sampled every
// 20 ms. Prints the lowest free space seen once the volume had filled to its limit, how long
// it stayed below the limit, the clips deleted and the frames that could not be written.
// The volume counts as filled from the first check that had to delete.
//   bench_retention --folder /mnt/small [--channels 16] [--kbps 2000] [--seconds 90]
//                   [--limit-mb 32] [--check-seconds 2] [--clip-seconds 10]
#include "common/disk_space.h"
#include "store/clip_index.h"
#include "store/clip_removal.h"
#include "store/clips_in_use.h"
#include "store/key_store.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

using namespace orvane;

struct Totals {
    std::atomic<bool> stop{false};
    std::atomic<long long> frames{0};
    std::atomic<long long> lostFrames{0};
    std::atomic<long long> clips{0};
};

std::uint64_t FreeBytes(const std::string& folder) {
    struct statvfs info {};
    return ::statvfs(folder.c_str(), &info) == 0
               ? static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize
               : 0;
}

// One channel recording: frames of kbps / 25 every 40 ms, a new clip every clipSeconds.
void Record(int channel, const KeyStore::WorkerShare& share, const QString& folder, int kbps,
            int clipSeconds, Totals& totals) {
    std::string detail;
    std::optional<KeyStore> store = KeyStore::OpenForWorker(share, detail);
    ClipIndex index(*store, [](std::int32_t id) { return QString("Camera %1").arg(id); });
    const std::string frame(static_cast<std::size_t>(kbps) * 1000 / 8 / 25, 'f');
    auto next = std::chrono::steady_clock::now();
    while (!totals.stop) {
        const QDateTime start = QDateTime::currentDateTime();
        ClipRecord record;
        record.channel = channel;
        record.fileName = start.toString("yyyyMMddhhmmss") + QString::asprintf("%04d.avi", channel);
        record.imageName = ImageNameOf(record.fileName);
        record.startDate = record.endDate = start.toString("yyyy/MM/dd");
        record.startTime = record.endTime = start.toString("hh:mm");
        record.path = folder;
        const ClipUse recording(folder + record.fileName);
        std::ofstream(QFile::encodeName(folder + record.imageName).constData())
            << std::string(30000, 'p');
        index.AddClipRecord(record);
        ++totals.clips;
        std::FILE* file = std::fopen(QFile::encodeName(folder + record.fileName).constData(), "ab");
        for (int i = 0; i < clipSeconds * 25 && !totals.stop; ++i) {
            next += std::chrono::milliseconds(40);
            std::this_thread::sleep_until(next);
            ++totals.frames;
            // A frame that finds no room is skipped, as the recorder skips it.
            if (!file || std::fwrite(frame.data(), 1, frame.size(), file) != frame.size() ||
                std::fflush(file) != 0) {
                ++totals.lostFrames;
                std::clearerr(file);
            }
        }
        if (file) {
            std::fclose(file);
        }
        record.endTime = QDateTime::currentDateTime().toString("hh:mm");
        index.UpdateClipRecord(record);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"folder", "The record folder, on a small volume of its own.", "path"},
                       {"channels", "Channels recording.", "n", "16"},
                       {"kbps", "Bit rate of each channel.", "n", "2000"},
                       {"seconds", "How long they record.", "n", "90"},
                       {"limit-mb", "LimitDiskSpace.", "n", "32"},
                       {"check-seconds", "CheckTimer.", "n", "2"},
                       {"clip-seconds", "Length of a clip.", "n", "10"}});
    parser.process(app);
    QString folder = parser.value("folder");
    if (folder.isEmpty()) {
        std::fprintf(stderr, "--folder is needed\n");
        return 2;
    }
    if (!folder.endsWith('/')) {
        folder += '/';
    }
    const int channels = parser.value("channels").toInt();
    const int kbps = parser.value("kbps").toInt();
    const std::uint64_t limit = parser.value("limit-mb").toULongLong() << 20;
    const int checkSeconds = parser.value("check-seconds").toInt();
    const std::string root = folder.toStdString();

    QTemporaryDir storeDir;  // the store lives on the system disk, as the program's does
    KeyStore store =
        std::move(*KeyStore::Open((storeDir.path() + "/store.db").toStdString()).store);
    ClipHousekeeper housekeeper(store);
    const std::uint64_t size = [&] {
        struct statvfs info {};
        ::statvfs(root.c_str(), &info);
        return static_cast<std::uint64_t>(info.f_blocks) * info.f_frsize;
    }();

    Totals totals;
    std::vector<std::thread> recorders;
    const KeyStore::WorkerShare share = store.ShareWithWorker();
    for (int channel = 1; channel <= channels; ++channel) {
        recorders.emplace_back(Record, channel, share, folder, kbps,
                               parser.value("clip-seconds").toInt(), std::ref(totals));
    }

    long long deleted = 0;
    int checks = 0;
    double longestCheckMs = 0;
    QTimer check;
    check.setInterval(checkSeconds * 1000);
    QObject::connect(&check, &QTimer::timeout, [&] {
        DiskCheck request;
        request.folder = root;
        request.rule.deleteOldest = true;
        request.rule.limitBytes = limit;
        request.inUse = ClipUse::Held();
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        housekeeper.Check(std::move(request), &app, [&, clock](const DiskCheckOutcome& outcome) {
            ++checks;
            deleted += outcome.removed();
            longestCheckMs = std::max(longestCheckMs, static_cast<double>(clock->elapsed()));
        });
    });
    check.start();

    // Free space, sampled: the lowest once old clips had to go.
    bool filled = false;
    std::uint64_t lowest = size;
    int samplesBelow = 0;
    QElapsedTimer run;
    run.start();
    double filledAt = 0;
    QTimer sample;
    sample.setInterval(20);
    QObject::connect(&sample, &QTimer::timeout, [&] {
        const std::uint64_t free = FreeBytes(root);
        if (!filled && deleted > 0) {
            filled = true;
            filledAt = static_cast<double>(run.elapsed()) / 1000;
        }
        if (filled) {
            lowest = std::min(lowest, free);
            samplesBelow += free < limit ? 1 : 0;
        }
    });
    sample.start();
    QTimer::singleShot(parser.value("seconds").toInt() * 1000, [&] { app.quit(); });
    app.exec();
    totals.stop = true;
    for (std::thread& recorder : recorders) {
        recorder.join();
    }
    const double mb = 1 << 20;
    std::printf(
        "%d channels at %d kbit/s (%.1f MB/s) into a %.0f MB volume, limit %.0f MB, check every "
        "%d s:\n"
        "  first clips deleted after %.1f s; lowest free space after that %.1f MB; below the "
        "limit for %.2f s\n"
        "  %lld clips recorded, %lld deleted in %d checks (longest check %.0f ms); "
        "%lld of %lld frames could not be written\n",
        channels, kbps, channels * kbps / 8000.0, static_cast<double>(size) / mb,
        static_cast<double>(limit) / mb, checkSeconds, filledAt, static_cast<double>(lowest) / mb,
        samplesBelow * 0.02, totals.clips.load(), deleted, checks, longestCheckMs,
        totals.lostFrames.load(), totals.frames.load());
    return filled ? 0 : 1;
}
