// Decoding: packed frames, key frames, each codec's pictures, window-size pictures, live workers.
#include "camera_picture.h"
#include "frame_source.h"
#include "media/decode_workers.h"
#include "media/decoded_picture.h"
#include "media/decoder_registry.h"
#include "media/ffmpeg_handles.h"
#include "media/key_frames.h"
#include "media/picture_scaler.h"
#include "media/video_decoder.h"
#include "site/channel_set.h"
#include "site/headless_host.h"
#include "support/event_loop.h"
#include "support/media_samples.h"
#include "support/message_guard.h"
#include "support/sample_clips.h"
#include "wire/bitmap_info.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <future>
#include <thread>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

Block FrameWith(BitmapInfoHeader header, std::size_t dataBytes) {
    return sim::PackFrame(header, Block(dataBytes, 0x42));
}

BitmapInfoHeader Header(std::uint32_t fourcc, int width = 320, int height = 240) {
    return {.biWidth = width, .biHeight = height, .biBitCount = 24, .biCompression = fourcc};
}

// A decoder of the program for this format.
std::unique_ptr<VideoDecoder> DecoderFor(const BitmapInfoHeader& format) {
    return VideoDecoder::Create(*FindDecoder(format), format);
}

// FFmpeg complains about every frame of a stream it cannot read: the log keeps twenty lines.
TEST(FfmpegLog, AFloodOfComplaintsIsCutShort) {
    RouteFfmpegLogging();
    test::ExpectedMessage complaints(QtWarningMsg, "orvane.media", "ffmpeg:");
    for (int i = 0; i < 500; ++i) {
        av_log(nullptr, AV_LOG_ERROR, "corrupted frame %d\n", i);
    }
    EXPECT_GE(complaints.seen(), 1);
    EXPECT_LE(complaints.seen(), 21);
}

TEST(PackedFrame, HeadersThatPromiseTooMuchOrAbsurdSizesAreRefused) {
    const BitmapInfoHeader good = Header(MakeFourcc('F', 'M', 'P', '4'));
    EXPECT_TRUE(ParsePackedFrame(FrameWith(Header(good.biCompression, 8192, 8192), 100)));
    // A compressed frame has no row order of its own to turn round: no negative height.
    for (const auto& [w, h] :
         {std::pair{0, 240}, {320, 0}, {-320, 240}, {8193, 240}, {320, -240}}) {
        EXPECT_FALSE(ParsePackedFrame(FrameWith(Header(good.biCompression, w, h), 100)))
            << w << " x " << h;
    }
    // biSize not 40; biSizeImage one byte more than there is.
    for (const auto& [at, value] : {std::pair{0, 41}, std::pair{20, 101}}) {
        Block frame = FrameWith(good, 100);
        frame[std::size_t(at)] = std::uint8_t(value);
        EXPECT_FALSE(ParsePackedFrame(frame)) << at;
    }

    BitmapInfoHeader palette = good;
    palette.biClrUsed = 0xFFFFFFFF;  // would overflow a 32-bit byte count
    EXPECT_FALSE(ParsePackedFrame(FrameWith(palette, 100)));
    palette.biClrUsed = 2;
    palette.biSizeImage = 50;
    Block withColours = palette.Bytes();
    withColours.resize(40 + 8 + 50, 1);
    const auto parsed = ParsePackedFrame(withColours);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->colourTable.size(), 8u);
    EXPECT_FALSE(ParsePackedFrame(Block(39, 0)));
}

// Rows stored top first (a negative height) or bottom first: the picture shows upright.
TEST(DecodedPicture, UncompressedFramesOfEitherRowOrderShowUpright) {
    const QImage source =
        sim::TestPattern(1, 0, QSize(160, 120)).convertToFormat(QImage::Format_RGB32);
    const Block bottomUp = ToPackedDib24(source);
    for (const Block& packed : {bottomUp, test::TopDown(bottomUp)}) {
        QString why;
        EXPECT_EQ(DecodeSingleFrame(packed, &why), source) << why.toStdString();
    }
}

// Indeo 5 and 3 go to their own decoders whatever the case of the code; others by their code.
TEST(DecoderRegistry, TriesIndeo5ThenIndeo3ThenLocatesByFourcc) {
    EXPECT_EQ(FindDecoder(Header(MakeFourcc('i', 'v', '5', '0')))->handler, "iv50");
    EXPECT_EQ(FindDecoder(Header(MakeFourcc('I', 'V', '3', '2')))->handler, "iv32");
    EXPECT_EQ(FindDecoder(Header(MakeFourcc('x', 'v', 'i', 'd')))->name, "mpeg4");
    EXPECT_EQ(FindDecoder(Header(MakeFourcc('I', 'V', '4', '1')))->name, "indeo4");
    EXPECT_FALSE(FindDecoder(Header(MakeFourcc('Z', 'Z', 'Z', 'Z'))));
}

// 'K' for each frame the probe of the first frame's format takes for a key frame, '.' else.
std::string KeyFlags(const std::vector<Block>& packed) {
    std::string flags;
    for (const LiveFrame& frame : test::LiveFrames(packed)) {
        flags += frame.keyFrame ? 'K' : '.';
    }
    return flags;
}

TEST(KeyFrameProbe, EachCodecsKeyFramesAreThoseItsEncoderMade) {
    using enum sim::SimulatedCodec;
    // MS Video 1 frames say nothing of their kind: only the first is taken as a key frame,
    // so that a player decodes from the start.
    const std::pair<sim::SimulatedCodec, const char*> rows[] = {
        {Mpeg4, "K....K....K."},   {Mjpeg, "KKKKKKKKKKKK"},    {MsMpeg4v3, "K....K....K."},
        {Cinepak, "K....K....K."}, {MsVideo1, "K..........."}, {Uncompressed, "KKKKKKKKKKKK"},
        {H264, "K....K....K."}};
    for (const auto& [codec, keys] : rows) {
        SCOPED_TRACE(sim::CodecName(codec).toStdString());
        EXPECT_EQ(KeyFlags(test::EncodeFrames(codec, 12, {64, 48}, 5)), keys);
    }
    // MPEG-2, which the probe leaves to FFmpeg's parser, as ffmpeg itself writes it.
    QTemporaryDir dir;
    const QString mpeg2 = dir.filePath("mpeg2.avi");
    ASSERT_EQ(QProcess::execute("ffmpeg", {"-v", "error", "-f", "lavfi", "-i",
                                           "testsrc=size=64x48:rate=25", "-frames:v", "12", "-c:v",
                                           "mpeg2video", "-g", "5", "-bf", "0", mpeg2}),
              0);
    QString error;
    EXPECT_EQ(KeyFlags(sim::AviPacketSource::Load(mpeg2, error)->frames()), "K....K....K.");
    // Every picture of this Indeo 5 sample is coded on its own (its index says so too).
    const auto indeo5 =
        sim::AviPacketSource::Load(test::MediaSample("iv50_320x240_x10.avi"), error);
    ASSERT_TRUE(indeo5) << error.toStdString();
    EXPECT_EQ(KeyFlags(indeo5->frames()), "KKKKKKKKKK");
}

// Bytes from a site or a file whose own sizes do not add up: never a key frame, never read past.
TEST(KeyFrameProbe, FramesWhoseSizesDoNotAddUpAreNotKeyFrames) {
    const std::uint32_t cinepak = MakeFourcc('c', 'v', 'i', 'd');
    const std::uint32_t h264 = MakeFourcc('H', '2', '6', '4');
    const struct {
        const char* what;
        std::uint32_t fourcc;
        Block bytes;
    } rows[] = {
        {"cinepak: shorter than its header", cinepak, Block(9, 0)},
        {"cinepak: no strips", cinepak, Block(10, 0)},
        {"cinepak: a strip header cut off", cinepak, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x10, 0}},
        {"cinepak: a strip longer than the frame", cinepak, {0, 0, 0,  0, 0, 0, 0, 0, 0, 1, 0x10,
                                                             0, 0, 13, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"cinepak: a strip coded from the frame before",
         cinepak,
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x11, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"h264: a unit of length 0", h264, {0, 0, 0, 0, 0x65, 0}},
        {"h264: a unit longer than the frame", h264, {0, 0, 0, 9, 0x65, 1, 2, 3}},
        {"h264: start codes without an IDR slice", h264, {0, 0, 1, 0x41, 0, 0, 1}},
        {"mpeg4: no picture start code", MakeFourcc('F', 'M', 'P', '4'), {0, 0, 1, 0xB3, 0}},
        {"indeo5: an inter picture", MakeFourcc('I', 'V', '5', '0'), {0x3F}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_FALSE(KeyFrameProbe({.biCompression = row.fourcc}).IsKeyFrame(row.bytes));
    }
    // H.264 units may carry their lengths instead of start codes: the IDR slice after another.
    EXPECT_TRUE(KeyFrameProbe({.biCompression = h264})
                    .IsKeyFrame(Block{0, 0, 0, 2, 0x41, 0, 0, 0, 0, 1, 0x65}));
}

TEST(DecodedPicture, EachSimulatedCodecDecodesToThePictureThatWasEncoded) {
    for (const sim::SimulatedCodec codec : sim::AllCodecs()) {
        SCOPED_TRACE(sim::CodecName(codec).toStdString());
        const QSize size =
            codec == sim::SimulatedCodec::Uncompressed ? QSize(160, 120) : QSize(320, 240);
        const auto pictures = test::DecodeInOrder(test::EncodeFrames(codec, 15, size));
        ASSERT_EQ(pictures.size(), 15u);
        for (int index = 0; index < 15; ++index) {
            EXPECT_LT(test::MeanDifference(pictures[std::size_t(index)],
                                           sim::TestPattern(1, index, size)),
                      12.0)
                << "frame " << index;
        }
    }
}

// A picture made at its window's size looks like the whole picture smoothly scaled down, fine
// lines and text included; the full size made later from it is what a full-size decode gives.
TEST(DecodedPicture, AtTheWindowsSizeLooksLikeTheWholePictureScaledDown) {
    const struct {
        bool camera;  // else fine lines and text
        sim::SimulatedCodec codec;
        QSize frame;
        QSize window;
    } cases[] = {
        {true, sim::SimulatedCodec::H264, {1920, 1080}, {466, 243}},
        {false, sim::SimulatedCodec::H264, {1280, 720}, {226, 114}},
        {true, sim::SimulatedCodec::Mpeg4, {352, 288}, {240, 196}},
        {false, sim::SimulatedCodec::Mpeg4, {352, 288}, {240, 196}},
        {false, sim::SimulatedCodec::Uncompressed, {352, 288}, {226, 114}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const QImage source =
            c.camera ? bench::CameraLikePicture(1, c.frame, 4) : bench::FineDetailPicture(c.frame);
        const Block packed = *sim::LiveEncoder::Create(c.codec, c.frame)->Encode(source);
        const auto frame = ParsePackedFrame(packed);
        const auto shown = DecoderFor(frame->header)->Decode(*frame, c.window);
        const auto whole = DecoderFor(frame->header)->Decode(*frame);
        ASSERT_TRUE(shown && whole);
        EXPECT_EQ(shown->image.size(), c.window);
        const QImage smooth =
            whole->image.scaled(c.window, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        EXPECT_LE(test::MeanDifference(shown->image, smooth), 3.0);
        EXPECT_EQ(FullSizePicture(*shown), whole->image);
    }
}

// The scaler's vector code writes whole blocks of pixels: rows that are not a multiple of the
// block are never written past (the allocations behind each picture would show a stray write).
TEST(DecodedPicture, OddWidthsNeverWritePastThePicture) {
    for (const int width : {6, 10, 18, 22, 26, 30, 34, 42, 50, 58}) {
        const auto packed = test::EncodeFrames(sim::SimulatedCodec::Mjpeg, 1, QSize(width, 8));
        const auto frame = ParsePackedFrame(packed.at(0));
        std::vector<std::optional<DecodedPicture>> pictures;
        std::vector<std::vector<std::uint8_t>> neighbours;
        for (int round = 0; round < 40; ++round) {
            pictures.push_back(DecoderFor(frame->header)->Decode(*frame));
            ASSERT_TRUE(pictures.back()) << width;
            neighbours.emplace_back(static_cast<std::size_t>(width * 8 * 4), std::uint8_t{7});
        }
        for (const auto& bytes : neighbours) {
            ASSERT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](auto b) { return b == 7; }))
                << width;
        }
    }
}

// A stream carries a size of its own: a small header must not smuggle in one beyond the limit.
TEST(DecodedPicture, AStreamWiderThanTheLimitGivesNoPicture) {
    for (const int width : {kMaxFrameDimension, kMaxFrameDimension + 32}) {
        Block packed = test::EncodeFrames(sim::SimulatedCodec::Mjpeg, 1, QSize(width, 8)).at(0);
        BitmapInfoHeader header = *BitmapInfoHeader::Parse(packed);
        header.biWidth = 32;
        header.WriteTo(packed);
        const QSize expected = width <= kMaxFrameDimension ? QSize(width, 8) : QSize(0, 0);
        EXPECT_EQ(DecodeSingleFrame(packed).size(), expected) << width;
    }
}

// The samples are part of every run: a missing one fails the test and names the folder.
TEST(RealSamples, AMissingSampleFailsAndNamesTheFolder) {
    EXPECT_NONFATAL_FAILURE(EXPECT_TRUE(test::MediaSample("no-such-sample.avi").isEmpty()),
                            "no-such-sample.avi");
}

}  // namespace

// A worker's review, done by hand.
class DecodingTestAccess {
  public:
    static void Reduce(ChannelDecoding& channel) { channel.Reduce(); }
    static void Restore(ChannelDecoding& channel) { channel.Restore(); }
};

namespace {

// Waits at a gate and counts its restarts; its picture's colour is the frame's size.
struct GatedDecoder final : VideoDecoder {
    explicit GatedDecoder(std::shared_future<void> opened) : gate(std::move(opened)) {}
    std::optional<DecodedPicture> Decode(const PackedFrame& frame, QSize) override {
        gate.wait();
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(static_cast<uint>(frame.imageData.size()));
        return DecodedPicture{image, {}, nullptr};
    }
    void Restart() override { ++restarts; }

    std::shared_future<void> gate;
    std::atomic<int> restarts{0};
};

// One channel on one worker; its first frame, a key frame, is held at the gate.
class GatedChannelTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Submit(10, true));
        ASSERT_TRUE(test::WaitUntil([&] { return channel->waitingFrames() == 0; }));
    }
    bool Submit(std::size_t bytes, bool key = false) {
        LiveFrame frame =
            test::LiveFrames({FrameWith(Header(MakeFourcc('F', 'M', 'P', '4'), 4, 4), bytes)})
                .at(0);
        frame.keyFrame = key;
        return channel->Submit(frame);
    }
    // Opens the gate once what waits counts as late: the colour shown after that many frames.
    QRgb ShownWhenLateFramesAreDecoded(std::uint64_t decoded) {
        test::Pump(600);
        open.set_value();
        EXPECT_TRUE(test::WaitUntil([&] { return channel->decodedFrames() == decoded; }));
        const auto picture = channel->TakePicture();
        return picture ? picture->image.pixel(0, 0) & 0xFFFFFF : 0;
    }

    std::promise<void> open;
    std::unique_ptr<GatedDecoder> decoder =
        std::make_unique<GatedDecoder>(open.get_future().share());
    GatedDecoder& counts = *decoder;
    DecodeWorkers workers{[] {}, 1};
    std::shared_ptr<ChannelDecoding> channel = workers.AddChannel(std::move(decoder));
};

TEST_F(GatedChannelTest, AChannelFarBehindDropsToTheNextKeyFrameAndShowsOnlyTheNewest) {
    const std::size_t room = ChannelDecoding::kMaxWaitingFrames;
    for (std::size_t i = 0; i < room; ++i) {
        ASSERT_TRUE(Submit(11));
    }
    EXPECT_FALSE(channel->behind());
    {
        test::ExpectedMessage warning(QtWarningMsg, "orvane.media", "behind");
        // One more than there is room for: what waits goes, and every frame that needs it.
        EXPECT_FALSE(Submit(12) || Submit(13));
    }
    EXPECT_TRUE(channel->behind());
    EXPECT_TRUE(Submit(20, true) && Submit(21) && Submit(22));
    EXPECT_EQ(channel->droppedFrames(), room + 2);
    EXPECT_EQ(ShownWhenLateFramesAreDecoded(4), 22u);
    EXPECT_EQ(counts.restarts.load(), 1) << "decoding starts again at the key frame";
    EXPECT_TRUE(channel->behind()) << "the last frame waited longer than the limit";
    ASSERT_TRUE(Submit(30));
    ASSERT_TRUE(test::WaitUntil([&] { return channel->decodedFrames() == 5; }));
    EXPECT_FALSE(channel->behind()) << "caught up";
}

TEST_F(GatedChannelTest, ALateChannelJumpsToAWaitingKeyFrame) {
    ASSERT_TRUE(Submit(11) && Submit(12, true) && Submit(13));
    EXPECT_EQ(ShownWhenLateFramesAreDecoded(3), 13u);
    EXPECT_EQ(channel->droppedFrames(), 1u) << "the frame before the key frame";
    EXPECT_EQ(counts.restarts.load(), 1);
}

// A channel given its other frames back goes on at once from the key frame it last decoded,
// with the frames that came after it, instead of waiting for the next key frame.
TEST_F(GatedChannelTest, ARestoredChannelGoesOnFromItsNewestKeyFrame) {
    open.set_value();
    ASSERT_TRUE(test::WaitUntil([&] { return channel->decodedFrames() == 1; }));
    DecodingTestAccess::Reduce(*channel);
    EXPECT_TRUE(Submit(20, true));
    EXPECT_FALSE(Submit(21) || Submit(22)) << "not decoded while reduced";
    ASSERT_TRUE(test::WaitUntil([&] { return channel->decodedFrames() == 2; }));
    DecodingTestAccess::Restore(*channel);
    EXPECT_FALSE(channel->reduced());
    ASSERT_TRUE(test::WaitUntil([&] { return channel->decodedFrames() == 4; }));
    const auto picture = channel->TakePicture();
    EXPECT_EQ(picture ? picture->image.pixel(0, 0) & 0xFFFFFF : 0, 22u);
    EXPECT_EQ(channel->droppedFrames(), 0u);
    EXPECT_EQ(counts.restarts.load(), 1) << "at the key frame alone";
}

// The workers join as the fixture goes; what still waits is dropped with the channel.
TEST_F(GatedChannelTest, StoppingWithFramesWaitingNeitherHangsNorLeaks) {
    for (int i = 0; i < 50; ++i) {
        Submit(10);
    }
    open.set_value();
}

// A decoder that takes its time over every frame, whatever the machine.
struct SlowDecoder final : VideoDecoder {
    std::optional<DecodedPicture> Decode(const PackedFrame&, QSize) override {
        std::this_thread::sleep_for(std::chrono::microseconds(6500));
        return DecodedPicture{QImage(4, 4, QImage::Format_RGB32), {}, nullptr};
    }
};

struct CountingSink final : FrameSink {
    void TakeFrame(const LiveFrame&) override { ++frames; }
    int frames = 0;
};

// Eight channels of 25 frames a second at 6.5 ms a frame on one worker (1.3 times its pace): those
// furthest behind show key frames only, marked, until the rate halves; recordings get every frame.
TEST(ReducedRate, ChannelsTheWorkerCannotKeepUpWithShowKeyFramesUntilTheLoadFalls) {
    constexpr int kChannels = 8;
    HeadlessChannelHost host;
    ChannelSet set(host);
    set.SetDecoderFactory([](const auto&, const auto&) { return std::make_unique<SlowDecoder>(); },
                          1);
    const auto stream = test::EncodeFrames(sim::SimulatedCodec::Mpeg4, 48, {176, 144}, 0, 0);
    const auto choice = FindDecoder(*BitmapInfoHeader::Parse(stream.front()));
    std::vector<CountingSink> sinks(kChannels);
    int index = 0;  // frames sent to each channel; its sink is set after the first
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        const Block& packed = stream[static_cast<std::size_t>(index++) % stream.size()];
        for (int c = 0; c < kChannels; ++c) {
            const auto id = static_cast<std::uint32_t>(c + 1);
            ASSERT_TRUE(
                set.TakeFrame({id, id, packed, *ParsePackedFrame(packed)}, *choice, true, false));
            if (index == 1) {
                set.SetFrameSink(host.windows()[c].get(), &sinks[c]);
            }
        }
    });
    const auto marked = [&] {
        return std::ranges::count_if(host.windows(), [](auto& w) { return w->markedReduced(); });
    };
    feed.start(40);
    ASSERT_TRUE(test::WaitUntil([&] { return set.reducedChannels() > 0 && marked() > 0; }, 60000));
    EXPECT_LT(set.reducedChannels(), kChannels) << "only those furthest behind";

    feed.setInterval(80);
    ASSERT_TRUE(
        test::WaitUntil([&] { return set.reducedChannels() == 0 && marked() == 0; }, 60000));
    const std::uint64_t dropped = set.droppedFrames();
    test::Pump(1000);  // frames at the lower rate, each to be decoded
    feed.stop();
    ASSERT_TRUE(test::WaitUntil([&] {
        return std::all_of(set.links().begin(), set.links().end(),
                           [](const auto& link) { return link.decoding->waitingFrames() == 0; });
    }));
    EXPECT_EQ(set.droppedFrames(), dropped) << "every frame decoded again";
    for (int c = 0; c < kChannels; ++c) {
        EXPECT_EQ(sinks[c].frames, index - 1) << "channel " << c << " recorded every frame";
    }
}

// Uncompressed 8 (a colour table), 16 (5-5-5) and 32 bits show their colours; 4 bits give none.
TEST(DecodedPicture, UncompressedFramesOfEachDepthShowTheirColours) {
    const struct {
        std::uint16_t bits;
        Block pixel;
        QRgb expected;
    } rows[] = {{8, {1}, qRgb(0x30, 0x20, 0x10)},
                {16, {0x00, 0x7C}, qRgb(255, 0, 0)},
                {32, {0x40, 0x50, 0x60, 0}, qRgb(0x60, 0x50, 0x40)},
                {4, {0x11}, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bits);
        Block frame = BitmapInfoHeader{.biWidth = 4,
                                       .biHeight = 2,
                                       .biBitCount = row.bits,
                                       .biSizeImage = std::uint32_t(row.pixel.size() * 8),
                                       .biClrUsed = row.bits == 8 ? 2u : 0u}
                          .Bytes();
        if (row.bits == 8) {
            frame.insert(frame.end(), {0, 0, 0, 0, 0x10, 0x20, 0x30, 0});  // B, G, R, 0
        }
        for (int i = 0; i < 8; ++i) {  // two rows of four, each a multiple of four bytes
            frame.insert(frame.end(), row.pixel.begin(), row.pixel.end());
        }
        const QImage picture = DecodeSingleFrame(frame);
        EXPECT_EQ(picture.isNull() ? 0 : picture.pixel(3, 1), row.expected);
    }
}

// A decoder that keeps failing is flushed, and decodes again from the next key frame.
TEST(VideoDecoderFaults, ADecoderThatKeepsFailingIsFlushedAndRecovers) {
    test::ExpectedMessage flushed(QtWarningMsg, "orvane.media", "decoder kept failing");
    test::ExpectedMessage ffmpeg(QtWarningMsg, "orvane.media", "",
                                 test::ExpectedMessage::Occurrence::Optional);
    const Block key = test::EncodeFrames(sim::SimulatedCodec::Mpeg4, 1, {64, 48}).at(0);
    const auto format = *BitmapInfoHeader::Parse(key);
    auto decoder = DecoderFor(format);
    const Block junk = sim::PackFrame(format, Block(200, 0xFF));
    for (int i = 0; i < 30; ++i) {
        EXPECT_FALSE(decoder->Decode(*ParsePackedFrame(junk)));
    }
    EXPECT_TRUE(decoder->Decode(*ParsePackedFrame(key)));
}

}  // namespace
}  // namespace orvane
