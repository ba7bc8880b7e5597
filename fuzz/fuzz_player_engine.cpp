// Feeds arbitrary bytes, as a clip file, to the clip player's engine: opening it as the clip
// browser does, then what an operator does with it: play at the highest speed, step forward
// and back, go to the end and back, seek to the middle, change speed, play again, close.
// The clip is opened and decoded on the player's worker; its notifications are handed over
// by running the event loop until it is idle. Nothing a file holds may crash it.
#include "file_fuzzing.h"
#include "media/clip_player_engine.h"

#include <QCoreApplication>
#include <QImage>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <thread>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

using namespace orvane;

QTemporaryDir* folder = nullptr;
volatile std::uint8_t sink = 0;

// Reads every picture it is shown, so one made from freed or foreign memory shows.
class ReadingSurface final : public VideoSurface {
  public:
    void Present(const QImage& picture) override {
        std::uint8_t sum = 0;
        for (int y = 0; y < picture.height(); ++y) {
            const std::uint8_t* line = picture.constScanLine(y);
            for (qsizetype x = 0; x < picture.bytesPerLine(); ++x) {
                sum = static_cast<std::uint8_t>(sum + line[x]);
            }
        }
        sink = sum;
    }
};

class QuietView final : public PlayerView {
  public:
    void ResetZoom() override {}
    void DrawHeader() override {}
    void UpdatePositionText() override {
        engine->RefreshPosition();
        if (engine->currentFrame() < 0 || engine->currentFrame() > engine->durationFrames()) {
            __builtin_trap();
        }
    }
    void UpdateSpeedText() override {}
    void OpenFinished(bool opened) override { finished = opened ? 1 : 0; }
    void ClipUnreadable() override {}
    void EnableControls(std::int64_t durationFrames, int /*rateIndex*/) override {
        if (durationFrames <= 0) {
            __builtin_trap();
        }
    }
    VideoSurface* surface() override { return &pictures; }

    ClipPlayerEngine* engine = nullptr;
    int finished = -1;
    ReadingSurface pictures;
};

// Hands the worker's notifications over until the condition holds (a bounded wait: a
// clip whose frames are slow to decode is dropped, not hung on).
void RunUntil(const std::function<bool()>& done) {
    for (int round = 0; round < 2000 && !done(); ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Lets the worker show a few frames.
void RunTimers() {
    RunUntil([calls = 0]() mutable { return ++calls > 20; });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    folder = &orvane::fuzz::StartFileFuzzing(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString name = QStringLiteral("input.avi");
    {
        const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
            std::fopen(folder->filePath(name).toLocal8Bit().constData(), "wb"), &std::fclose);
        if (!file || std::fwrite(data, 1, size, file.get()) != size) {
            return 0;
        }
    }
    QuietView view;
    ClipPlayerEngine engine(view);
    view.engine = &engine;

    ClipRecord clip;
    clip.fileName = name;
    clip.channel = 7;
    clip.location = QStringLiteral("Gate");
    clip.path = folder->path() + QLatin1Char('/');
    // Opening plays at once; the highest speed lets the frame work reach as far as it can.
    engine.ApplyRate(engine.SetRateIndex(static_cast<int>(kRateTable.size()) - 1));
    if (!engine.OpenClip(clip)) {
        return 0;
    }
    RunUntil([&] { return view.finished >= 0; });
    if (view.finished != 1) {
        return 0;
    }
    RunTimers();

    engine.StepForward();
    engine.StepForward();
    engine.StepBack();
    engine.GoLastFrame();
    engine.StepBack();
    engine.StepForward();
    engine.SeekToFrame(engine.durationFrames() / 2);
    engine.ApplyRate(engine.StepRate(false));
    engine.GoToTime(engine.currentUtcMicros());
    engine.Play();
    RunTimers();
    engine.Pause();
    sink = static_cast<std::uint8_t>(engine.playback() ? engine.playback()->GetCurrentImage().size()
                                                       : 0);
    engine.GoFirstFrame();
    engine.Play();
    RunTimers();
    engine.Stop();
    engine.CloseClip();
    return 0;
}
