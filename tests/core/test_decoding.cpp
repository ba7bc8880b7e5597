// Decoding: packed frames checked, each codec's pictures, the picture at a window's size, and
// the workers that decode live channels.
#include "camera_picture.h"
#include "frame_source.h"
#include "media/decode_workers.h"
#include "media/decoded_picture.h"
#include "media/decoder_registry.h"
#include "media/ffmpeg_handles.h"
#include "media/picture_scaler.h"
#include "media/video_decoder.h"
#include "site/channel_set.h"
#include "site/headless_host.h"
#include "support/event_loop.h"
#include "support/media_samples.h"
#include "support/message_guard.h"
#include "support/sample_clips.h"
#include "wire/bitmap_info.h"

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
    BitmapInfoHeader header;
    header.biWidth = width;
    header.biHeight = height;
    header.biBitCount = 24;
    header.biCompression = fourcc;
    return header;
}

// A stream no decoder can read makes FFmpeg complain about every frame: the log takes the
// first twenty lines of ten seconds, not hundreds.
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
    for (const auto& [w, h] : {std::pair{0, 240}, {320, 0}, {-320, 240}, {8193, 240}}) {
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

// An uncompressed frame may store its rows top first (a negative height): either way the
// picture shows the right way up.
TEST(DecodedPicture, UncompressedFramesOfEitherRowOrderShowUpright) {
    const QImage source =
        sim::TestPattern(1, 0, QSize(160, 120)).convertToFormat(QImage::Format_RGB32);
    const Block bottomUp = ToPackedDib24(source);
    for (const Block& packed : {bottomUp, test::TopDown(bottomUp)}) {
        QString why;
        EXPECT_EQ(DecodeSingleFrame(packed, &why), source) << why.toStdString();
    }
    // A compressed frame has no row order of its own to turn round.
    EXPECT_FALSE(
        ParsePackedFrame(FrameWith(Header(MakeFourcc('F', 'M', 'P', '4'), 320, -240), 100)));
}

// Indeo 5 and 3 go to their own decoders whatever the case of the code; anything else is
// looked up by its code, and an unknown one has none.
TEST(DecoderRegistry, TriesIndeo5ThenIndeo3ThenLocatesByFourcc) {
    EXPECT_EQ(FindDecoder(Header(MakeFourcc('i', 'v', '5', '0')))->handler, "iv50");
    EXPECT_EQ(FindDecoder(Header(MakeFourcc('I', 'V', '3', '2')))->handler, "iv32");
    EXPECT_EQ(FindDecoder(Header(MakeFourcc('x', 'v', 'i', 'd')))->name, "mpeg4");
    EXPECT_EQ(FindDecoder(Header(MakeFourcc('I', 'V', '4', '1')))->name, "indeo4");
    EXPECT_FALSE(FindDecoder(Header(MakeFourcc('Z', 'Z', 'Z', 'Z'))));
}

TEST(DecodedPicture, EachSimulatedCodecDecodesToThePictureThatWasEncoded) {
    for (const sim::SimulatedCodec codec : sim::AllCodecs()) {
        SCOPED_TRACE(sim::CodecName(codec).toStdString());
        const bool raw = codec == sim::SimulatedCodec::Uncompressed;
        const QSize size = raw ? QSize(160, 120) : QSize(320, 240);
        const std::vector<QImage> pictures =
            test::DecodeInOrder(test::EncodeFrames(codec, 15, size));
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
    enum Pattern { Camera, FineDetail };
    const struct {
        Pattern pattern;
        sim::SimulatedCodec codec;
        QSize frame;
        QSize window;
    } cases[] = {
        {Camera, sim::SimulatedCodec::H264, {1920, 1080}, {466, 243}},
        {FineDetail, sim::SimulatedCodec::H264, {1280, 720}, {226, 114}},
        {Camera, sim::SimulatedCodec::Mpeg4, {352, 288}, {240, 196}},
        {FineDetail, sim::SimulatedCodec::Mpeg4, {352, 288}, {240, 196}},
        {FineDetail, sim::SimulatedCodec::Uncompressed, {352, 288}, {226, 114}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << sim::CodecName(c.codec).toStdString() << " " << c.frame.width() << "x"
                     << c.frame.height() << " " << c.pattern);
        const QImage source = c.pattern == Camera ? bench::CameraLikePicture(1, c.frame, 4)
                                                  : bench::FineDetailPicture(c.frame);
        const Block packed = *sim::LiveEncoder::Create(c.codec, c.frame)->Encode(source);
        const auto frame = ParsePackedFrame(packed);
        const auto choice = FindDecoder(frame->header);
        const auto shown = VideoDecoder::Create(*choice, frame->header)->Decode(*frame, c.window);
        const auto whole = VideoDecoder::Create(*choice, frame->header)->Decode(*frame);
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
        const auto choice = FindDecoder(frame->header);
        std::vector<std::optional<DecodedPicture>> pictures;
        std::vector<std::vector<std::uint8_t>> neighbours;
        for (int round = 0; round < 40; ++round) {
            pictures.push_back(VideoDecoder::Create(*choice, frame->header)->Decode(*frame));
            ASSERT_TRUE(pictures.back()) << width;
            neighbours.emplace_back(static_cast<std::size_t>(width * 8 * 4), std::uint8_t{7});
        }
        for (const auto& bytes : neighbours) {
            ASSERT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](auto b) { return b == 7; }))
                << width;
        }
    }
}

// The stream inside a frame carries a size of its own: a small header must not smuggle in a
// picture beyond the limit.
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

// A decoder that waits at a gate, and counts its restarts.
class GatedDecoder final : public VideoDecoder {
  public:
    explicit GatedDecoder(std::shared_future<void> gate) : gate_(std::move(gate)) {}
    std::optional<DecodedPicture> Decode(const PackedFrame& frame, QSize) override {
        gate_.wait();
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(static_cast<uint>(frame.imageData.size()));
        return DecodedPicture{image, {}, nullptr};
    }
    bool DecodeWithoutPicture(const PackedFrame&) override {
        gate_.wait();
        return true;
    }
    void Restart() override { ++restarts; }

    std::atomic<int> restarts{0};

  private:
    std::shared_future<void> gate_;
};

// A frame whose picture, from the gated decoder, has the frame's size as its colour.
LiveFrame FrameOfSize(std::size_t bytes, bool key) {
    const Block packed = FrameWith(Header(MakeFourcc('F', 'M', 'P', '4'), 4, 4), bytes);
    LiveFrame frame = test::LiveFrames({packed}).at(0);
    frame.keyFrame = key;
    return frame;
}

// One channel on one worker; its first frame, a key frame, is held at the gate.
class GatedChannelTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(channel->Submit(FrameOfSize(10, true)));
        ASSERT_TRUE(test::WaitUntil([&] { return channel->waitingFrames() == 0; }));
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
        ASSERT_TRUE(channel->Submit(FrameOfSize(11, false)));
    }
    EXPECT_FALSE(channel->behind());
    {
        test::ExpectedMessage warning(QtWarningMsg, "orvane.media", "behind");
        // One more than there is room for: what waits goes, and every frame that needs it.
        EXPECT_FALSE(channel->Submit(FrameOfSize(12, false)));
        EXPECT_FALSE(channel->Submit(FrameOfSize(13, false)));
    }
    EXPECT_TRUE(channel->behind());
    EXPECT_TRUE(channel->Submit(FrameOfSize(20, true)));
    EXPECT_TRUE(channel->Submit(FrameOfSize(21, false)));
    EXPECT_TRUE(channel->Submit(FrameOfSize(22, false)));
    EXPECT_EQ(channel->droppedFrames(), room + 2);

    test::Pump(600);  // long enough for the waiting frames to count as late
    open.set_value();
    ASSERT_TRUE(test::WaitUntil([&] { return channel->decodedFrames() == 4; }));
    EXPECT_EQ(counts.restarts.load(), 1) << "decoding starts again at the key frame";
    const auto picture = channel->TakePicture();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->image.pixel(0, 0) & 0xFFFFFF, 22u);
    EXPECT_TRUE(channel->behind()) << "the last frame waited longer than the limit";
    ASSERT_TRUE(channel->Submit(FrameOfSize(30, false)));
    ASSERT_TRUE(test::WaitUntil([&] { return channel->decodedFrames() == 5; }));
    EXPECT_FALSE(channel->behind()) << "caught up";
}

TEST_F(GatedChannelTest, ALateChannelJumpsToAWaitingKeyFrame) {
    ASSERT_TRUE(channel->Submit(FrameOfSize(11, false)));
    ASSERT_TRUE(channel->Submit(FrameOfSize(12, true)));
    ASSERT_TRUE(channel->Submit(FrameOfSize(13, false)));
    test::Pump(600);
    open.set_value();
    ASSERT_TRUE(test::WaitUntil([&] { return channel->decodedFrames() == 3; }));
    EXPECT_EQ(channel->droppedFrames(), 1u) << "the frame before the key frame";
    EXPECT_EQ(counts.restarts.load(), 1);
    const auto picture = channel->TakePicture();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->image.pixel(0, 0) & 0xFFFFFF, 13u);
}

// A decoder that takes its time over every frame, whatever the machine.
class SlowDecoder final : public VideoDecoder {
  public:
    std::optional<DecodedPicture> Decode(const PackedFrame&, QSize) override {
        std::this_thread::sleep_for(std::chrono::microseconds(6500));
        return DecodedPicture{QImage(4, 4, QImage::Format_RGB32), {}, nullptr};
    }
};

struct CountingSink final : FrameSink {
    void TakeFrame(const LiveFrame&) override { ++frames; }
    int frames = 0;
};

// Eight channels at 25 frames a second, 6.5 ms a frame, on one worker (1.3 times what it can
// decode): those furthest behind show key frames only, marked, until the rate halves; every
// frame still reaches the recordings.
TEST(ReducedRate, ChannelsTheWorkerCannotKeepUpWithShowKeyFramesUntilTheLoadFalls) {
    constexpr int kChannels = 8;
    HeadlessChannelHost host;
    ChannelSet set(host);
    set.SetDecoderFactory([](const auto&, const auto&) { return std::make_unique<SlowDecoder>(); },
                          1);
    const auto stream = test::EncodeFrames(sim::SimulatedCodec::Mpeg4, 48, {176, 144}, 0, 0);
    const auto choice = FindDecoder(*BitmapInfoHeader::Parse(stream.front()));
    std::vector<CountingSink> sinks(kChannels);
    std::vector<int> sent(kChannels, 0);
    int index = 0;
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        const Block& packed = stream[static_cast<std::size_t>(index++) % stream.size()];
        for (int c = 0; c < kChannels; ++c) {
            const auto id = static_cast<std::uint32_t>(c + 1);
            ASSERT_TRUE(
                set.TakeFrame({id, id, packed, *ParsePackedFrame(packed)}, *choice, true, false));
            if (index == 1) {
                set.SetFrameSink(host.windows()[c].get(), &sinks[c]);
            } else {
                ++sent[c];
            }
        }
    });
    const auto marked = [&] {
        return std::count_if(host.windows().begin(), host.windows().end(),
                             [](const auto& window) { return window->markedReduced(); });
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
        EXPECT_EQ(sinks[c].frames, sent[c]) << "channel " << c << " recorded every frame";
    }
}

// The workers join as the fixture goes; what still waits is dropped with the channel.
TEST_F(GatedChannelTest, StoppingWithFramesWaitingNeitherHangsNorLeaks) {
    for (int i = 0; i < 50; ++i) {
        channel->Submit(FrameOfSize(10, false));
    }
    open.set_value();
}

// Uncompressed frames of 8 bits (a colour table), 16 (5-5-5) and 32 show their colours; a
// depth no site sends gives no picture.
TEST(DecodedPicture, UncompressedFramesOfEachDepthShowTheirColours) {
    struct Row {
        std::uint16_t bits;
        Block pixel;
        QRgb expected;
    };
    const Row rows[] = {{8, {1}, qRgb(0x30, 0x20, 0x10)},
                        {16, {0x00, 0x7C}, qRgb(255, 0, 0)},
                        {32, {0x40, 0x50, 0x60, 0}, qRgb(0x60, 0x50, 0x40)},
                        {4, {0x11}, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bits);
        BitmapInfoHeader header = Header(BitmapInfoHeader::kBiRgb, 4, 2);
        header.biBitCount = row.bits;
        header.biClrUsed = row.bits == 8 ? 2 : 0;
        header.biSizeImage = static_cast<std::uint32_t>(row.pixel.size() * 8);
        Block frame = header.Bytes();
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
    auto decoder = VideoDecoder::Create(*FindDecoder(format), format);
    const Block junk = sim::PackFrame(format, Block(200, 0xFF));
    for (int i = 0; i < 30; ++i) {
        EXPECT_FALSE(decoder->Decode(*ParsePackedFrame(junk)));
    }
    EXPECT_TRUE(decoder->Decode(*ParsePackedFrame(key)));
}

}  // namespace
}  // namespace orvane
