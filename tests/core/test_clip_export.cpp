#include "export/clip_export.h"
#include "media/clip_packets.h"
#include "support/independent_readers.h"
#include "support/message_guard.h"
#include "support/sample_clips.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using sim::SimulatedCodec;

class ClipExport : public ::testing::Test {
  protected:
    // A clip of frames recorded from the given time on the sample's day.
    QString Clip(SimulatedCodec codec, int frames, QSize size = {160, 120},
                 QTime start = test::SampleClip{}.start.time()) {
        return test::WriteSampleClip(
            dir_.path(),
            {.codec = codec, .frames = frames, .size = size, .start = {QDate(2026, 3, 14), start}});
    }
    static ExportRequest Request(std::vector<QString> clips, const QString& target,
                                 std::optional<std::int64_t> from = {}) {
        ExportRequest request;
        request.clips = std::move(clips);
        request.target = target;
        request.fromUtcMicros = from;
        return request;
    }
    static ClipTimeline Timeline(const QString& clip) {
        QString error;
        return ClipPackets::Open(clip, error)->timeline();
    }
    QString Target(const QString& name = "export.mp4") const { return dir_.filePath(name); }
    QStringList Files() const { return QDir(dir_.path()).entryList(QDir::Files); }

    QTemporaryDir dir_;
};

struct CodecCase {
    SimulatedCodec codec;
    bool preferH264;
    const char* exported;  // the MP4's codec as ffprobe names it
    bool copied;
    int maxLevel;  // the highest level the stream may declare; 0: not checked
};

class ExportCodecs : public ClipExport, public ::testing::WithParamInterface<CodecCase> {};

// Read back by ffprobe and ffmpeg alone: every frame a packet, the recorded time, the decoder
// configuration, and the clip's pictures when copied, decoding cleanly when encoded again.
TEST_P(ExportCodecs, IndependentReadersSeeTheClip) {
    const CodecCase& codec = GetParam();
    const QString clip = Clip(codec.codec, 50);
    ExportRequest request = Request({clip}, Target());
    request.site = "Depot";
    request.channel = "Gate";
    request.preferH264 = codec.preferH264;
    const ExportResult result = ExportClips(request);
    ASSERT_TRUE(result.done()) << result.error.toStdString();
    EXPECT_EQ(result.manifest.copied, codec.copied);

    const auto probed = test::ProbeVideo(Target().toStdString());
    ASSERT_TRUE(probed.opened);
    EXPECT_EQ(probed.codecName, codec.exported);
    EXPECT_EQ(probed.packetKeys.size(), 50u);
    EXPECT_TRUE(probed.packetKeys.front());
    EXPECT_GT(probed.extradataBytes, 0);
    if (codec.maxLevel > 0) {
        EXPECT_LE(probed.level, codec.maxLevel);
    }
    // From the first frame to the one after the last.
    const ClipTimeline timeline = Timeline(clip);
    const double seconds = double(timeline.TimeOf(49) - timeline.TimeOf(0)) / 1e6 * 50 / 49;
    EXPECT_NEAR(probed.durationSeconds, seconds, 0.05 * seconds);
    // The file tells what was recorded and when: site and channel, the first frame's time.
    EXPECT_EQ(probed.title, "Depot Gate");
    const QDateTime started = QDateTime::fromMSecsSinceEpoch(timeline.TimeOf(0) / 1000, Qt::UTC);
    EXPECT_TRUE(
        probed.creationTime.starts_with(started.toString("yyyy-MM-ddThh:mm:ss").toStdString()))
        << probed.creationTime;

    const auto exported = test::DecodeFrameMd5s(Target());
    EXPECT_EQ(exported.errors, "");
    if (codec.copied) {
        EXPECT_EQ(exported.md5s, test::DecodeFrameMd5s(clip).md5s);
    }
    EXPECT_EQ(Files(), QStringList({QFileInfo(clip).fileName(), "export.mp4", "export.mp4.json"}));
}

INSTANTIATE_TEST_SUITE_P(
    , ExportCodecs,
    // 160 x 120 at 25 frames a second is well within H.264 level 3, which every player opens.
    ::testing::Values(CodecCase{SimulatedCodec::H264, true, "h264", true, 0},
                      CodecCase{SimulatedCodec::Mpeg4, true, "mpeg4", true, 0},
                      CodecCase{SimulatedCodec::MsMpeg4v3, true, "h264", false, 30},
                      CodecCase{SimulatedCodec::MsVideo1, false, "mpeg4", false, 0}),
    [](const auto& test) {
        return sim::CodecName(test.param.codec).toStdString() +
               (test.param.preferH264 ? "" : "_without_h264");
    });

// A range starts at the key frame before it (also in a later clip) and ends at its last frame;
// the manifest names the frames and times exported.
TEST_F(ClipExport, RangeStartsAtTheKeyFrameBeforeIt) {
    const QString clip = Clip(SimulatedCodec::Mpeg4, 50);  // a key frame every 12 frames
    const ClipTimeline timeline = Timeline(clip);
    ExportRequest request = Request({clip}, Target(), timeline.TimeOf(30));
    request.toUtcMicros = timeline.TimeOf(40) - 1;
    const ExportResult result = ExportClips(request);
    ASSERT_TRUE(result.done()) << result.error.toStdString();
    EXPECT_EQ(result.manifest.frames, 40 - 24);
    ASSERT_EQ(result.manifest.sources.size(), 1u);
    EXPECT_EQ(result.manifest.sources[0].firstFrame, 24);
    EXPECT_EQ(result.manifest.sources[0].lastFrame, 39);
    EXPECT_EQ(result.manifest.fromUtcMicros, timeline.TimeOf(24));
    EXPECT_EQ(result.manifest.toUtcMicros, timeline.TimeOf(39));
    EXPECT_EQ(test::DecodeFrameMd5s(Target()).errors, "");

    request.target = Target("none.mp4");
    request.fromUtcMicros = timeline.TimeOf(49) + 1;
    request.toUtcMicros.reset();
    EXPECT_FALSE(ExportClips(request).done());
    EXPECT_FALSE(QFile::exists(Target("none.mp4")));

    // A range that starts in a later clip, past the frames of the first: copied from there,
    // with that clip's decoder configuration.
    const QString later = Clip(SimulatedCodec::Mpeg4, 20, {160, 120}, QTime(9, 27, 0));
    const QString last = Clip(SimulatedCodec::Mpeg4, 50, {160, 120}, QTime(9, 28, 0));
    const ExportResult fromLater =
        ExportClips(Request({later, last}, Target("later.mp4"), Timeline(last).TimeOf(30)));
    ASSERT_TRUE(fromLater.done()) << fromLater.error.toStdString();
    EXPECT_TRUE(fromLater.manifest.copied);
    EXPECT_EQ(fromLater.manifest.frames, 50 - 24);
    const auto decoded = test::DecodeFrameMd5s(Target("later.mp4"));
    EXPECT_EQ(decoded.errors, "");
    EXPECT_EQ(decoded.md5s.size(), 26u);
}

// A clip whose file was cut short exports the frames it still holds; an export up to its end
// tells, in its manifest, how many frames the clip lists beyond them.
TEST_F(ClipExport, AClipCutShortTellsTheFramesItNoLongerHolds) {
    const QString clip = Clip(SimulatedCodec::Mpeg4, 200);
    ASSERT_TRUE(test::CutClipAtFrame(clip, 120));
    test::ExpectedMessage lacking(QtWarningMsg, "orvane.export", "lacks 80 frames");
    const ExportResult result = ExportClips(Request({clip}, Target()));
    ASSERT_TRUE(result.done()) << result.error.toStdString();
    EXPECT_EQ(result.manifest.frames, 120);
    EXPECT_EQ(result.manifest.sources[0].missingFrames, 80);
    EXPECT_TRUE(result.manifest.ToBytes().contains("\"missingFrames\": 80"));

    ExportRequest before = Request({clip}, Target("before.mp4"));
    before.toUtcMicros = Timeline(clip).TimeOf(100);
    EXPECT_EQ(ExportClips(before).manifest.missingFrames(), 0);
}

// Clips that changed codec and size go into one file, encoded again at the first one's size.
TEST_F(ClipExport, ClipsDifferingInCodecAndSizeAreEncodedToTheFirstSize) {
    const QString first = Clip(SimulatedCodec::Mpeg4, 20);
    const QString second = Clip(SimulatedCodec::H264, 15, {320, 240}, QTime(9, 27, 0));
    const ExportResult result = ExportClips(Request({first, second}, Target()));
    ASSERT_TRUE(result.done()) << result.error.toStdString();
    EXPECT_FALSE(result.manifest.copied);
    EXPECT_EQ(result.manifest.frames, 35);
    EXPECT_EQ(result.manifest.sources.size(), 2u);
    const auto probed = test::ProbeVideo(Target().toStdString());
    EXPECT_EQ(QSize(probed.width, probed.height), QSize(160, 120));
    EXPECT_EQ(probed.packetKeys.size(), 35u);
    EXPECT_EQ(test::DecodeFrameMd5s(Target()).errors, "");

    // A range that leaves the first clip out copies the second at its own size.
    const ExportResult copied =
        ExportClips(Request({first, second}, Target("later.mp4"), Timeline(second).TimeOf(0)));
    ASSERT_TRUE(copied.done()) << copied.error.toStdString();
    EXPECT_TRUE(copied.manifest.copied);
    EXPECT_EQ(test::ProbeVideo(Target("later.mp4").toStdString()).width, 320);
}

// Cancelled, or refused because the file is there or an export to it runs: nothing new is left
// and the file there is untouched unless the operator agreed to replace it.
TEST_F(ClipExport, CancelAndExistingTargetLeaveNothing) {
    const QString clip = Clip(SimulatedCodec::MsMpeg4v3, 200);
    std::atomic<bool> cancel = false;
    ExportControl control;
    control.cancel = &cancel;
    std::int64_t seen = 0;
    control.progress = [&](std::int64_t done, std::int64_t total) {
        seen = done;
        EXPECT_EQ(total, 200);
        cancel = done >= 100;
    };
    ExportRequest request = Request({clip}, Target());
    EXPECT_EQ(ExportClips(request, control).outcome, ExportResult::Outcome::Cancelled);
    EXPECT_LT(seen, 200);
    EXPECT_EQ(Files(), QStringList{QFileInfo(clip).fileName()});

    test::WriteFileBytes(Target().toStdString(), "the operator's own file");
    EXPECT_EQ(ExportClips(request).outcome, ExportResult::Outcome::Failed);
    EXPECT_EQ(test::ReadFileBytes(Target().toStdString()), "the operator's own file");
    EXPECT_EQ(Files(), QStringList({QFileInfo(clip).fileName(), "export.mp4"}));

    // Chosen again while it runs (agreeing to replace the file there): the second export is
    // refused and the first one's file is whole.
    request.replace = true;
    cancel = false;
    ExportResult second;
    control.progress = [&](std::int64_t done, std::int64_t) {
        if (done == 100) {
            second = ExportClips(request);
        }
    };
    ASSERT_TRUE(ExportClips(request, control).done());
    EXPECT_EQ(second.outcome, ExportResult::Outcome::Failed);
    EXPECT_TRUE(second.error.contains("being exported already")) << second.error.toStdString();
    EXPECT_EQ(test::ProbeVideo(Target().toStdString()).packetKeys.size(), 200u);
    EXPECT_EQ(Files(), QStringList({QFileInfo(clip).fileName(), "export.mp4", "export.mp4.json"}));
}

// Whatever a manifest file holds, reading it answers: a manifest or a reason.
TEST(ExportManifestFile, ReadsWhatItWroteAndRefusesTheRest) {
    ExportManifest manifest;
    manifest.file = "a.mp4";
    manifest.sha256 = QString(64, 'a');
    manifest.frames = 3;
    manifest.fromUtcMicros = 1773480413000000;
    manifest.toUtcMicros = manifest.fromUtcMicros + 80000;
    manifest.utcOffsetSeconds = 3600;
    manifest.sources.push_back({"/clips/a.avi", QString(64, 'b'), 10, 0, 2, 5});
    const QByteArray bytes = manifest.ToBytes();
    QString error;
    const auto read = ExportManifest::Parse(bytes, error);
    ASSERT_TRUE(read) << error.toStdString();
    EXPECT_EQ(read->ToBytes(), bytes);
    EXPECT_TRUE(bytes.contains("\"fromUtc\": \"2026-03-14T09:26:53.000Z\""));
    EXPECT_TRUE(bytes.contains("\"from\": \"2026-03-14 10:26:53.000\""));
    EXPECT_TRUE(bytes.contains("\"utcOffset\": \"+01:00\""));

    // Each refused with its own reason.
    for (const auto& [bad, reason] : std::vector<std::pair<QByteArray, QString>>{
             {QByteArray(), "not JSON"},
             {QByteArray("[]"), "not a JSON object"},
             {QByteArray(bytes).replace("a.mp4", "../a.mp4"), "export's name"},
             {QByteArray(bytes).replace(QByteArray(64, 'b'), "bb"), "source clip"},
             {QByteArray(bytes).replace("\"missingFrames\": 5", "\"missingFrames\": -5"),
              "source clip"},
             {QByteArray(bytes).replace("orvane-export", "other"), "format"},
             {bytes.left(bytes.size() / 2), "not JSON"}}) {
        error.clear();
        EXPECT_FALSE(ExportManifest::Parse(bad, error)) << bad.toStdString();
        EXPECT_TRUE(error.contains(reason) && !error.contains("no error"))
            << bad.toStdString() << ": " << error.toStdString();
    }
}

}  // namespace
}  // namespace orvane
