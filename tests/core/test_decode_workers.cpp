#include "frame_source.h"
#include "media/decode_workers.h"
#include "media/decoder_registry.h"
#include "media/key_frames.h"
#include "site/channel_set.h"
#include "site/headless_host.h"
#include "support/event_loop.h"
#include "support/message_guard.h"
#include "support/sample_clips.h"

#include <QTimer>

#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace orvane {
namespace {

constexpr QSize kSize(176, 144);

std::vector<Block> EncodeChannel(int channel, int frames) {
    return test::EncodeFrames(sim::SimulatedCodec::Mpeg4, frames, kSize, 0, channel);
}

std::unique_ptr<VideoDecoder> RealDecoder(const Block& first) {
    const auto header = BitmapInfoHeader::Parse(first);
    return VideoDecoder::Create(*FindDecoder(*header), *header);
}

// The picture a decoder of its own, on this thread, makes of the same frames.
QImage DecodedAlone(const std::vector<Block>& frames) {
    const auto decoder = RealDecoder(frames.front());
    QImage last;
    for (const Block& frame : frames) {
        if (auto picture = decoder->Decode(*ParsePackedFrame(frame))) {
            last = picture->image.copy();
        }
    }
    return last;
}

// A packed frame whose key flag is given, as the channel decided it.
LiveFrame Frame(Block packed, bool key) {
    const auto header = *BitmapInfoHeader::Parse(packed);
    KeyFrameProbe probe(header);
    LiveFrame frame = *ReadLiveFrame(std::make_shared<const Block>(std::move(packed)), probe);
    frame.keyFrame = key;
    return frame;
}

TEST(DecodeWorkers, EveryFrameOfManyChannelsDecodedInOrderAndTheNewestPictureShown) {
    int notices = 0;
    QObject receiver;
    DecodeWorkers workers([&] { QTimer::singleShot(0, &receiver, [&] { ++notices; }); }, 2);
    constexpr int kChannels = 8;
    std::vector<std::vector<Block>> streams;
    std::vector<std::shared_ptr<ChannelDecoding>> channels;
    for (int c = 0; c < kChannels; ++c) {
        streams.push_back(EncodeChannel(c, 40));
        channels.push_back(workers.AddChannel(RealDecoder(streams.back().front())));
    }
    // Interleaved, as a site sends them; inter frames decoded out of order or by two threads
    // at once would show as a wrong last picture.
    for (std::size_t i = 0; i < streams[0].size(); ++i) {
        for (int c = 0; c < kChannels; ++c) {
            ASSERT_TRUE(channels[c]->Submit(Frame(streams[c][i], i % 12 == 0)));
        }
    }
    ASSERT_TRUE(test::WaitUntil([&] {
        return std::all_of(channels.begin(), channels.end(),
                           [&](const auto& c) { return c->decodedFrames() == 40; });
    }));
    test::Pump(20);
    EXPECT_GE(notices, 1);
    for (int c = 0; c < kChannels; ++c) {
        const auto picture = channels[c]->TakePicture();
        ASSERT_TRUE(picture) << c;
        EXPECT_EQ(picture->image, DecodedAlone(streams[c])) << c;
        EXPECT_FALSE(channels[c]->TakePicture()) << "taken once";
        EXPECT_FALSE(channels[c]->behind());
    }
}

// A decoder that waits at a gate, and counts what it was asked for.
class GatedDecoder final : public VideoDecoder {
  public:
    explicit GatedDecoder(std::shared_future<void> gate) : gate_(std::move(gate)) {}
    std::optional<DecodedPicture> Decode(const PackedFrame& frame, QSize) override {
        gate_.wait();
        ++pictures;
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(static_cast<uint>(frame.imageData.size()));
        return DecodedPicture{image, {}, nullptr};
    }
    bool DecodeWithoutPicture(const PackedFrame&) override {
        gate_.wait();
        ++withoutPicture;
        return true;
    }
    void Restart() override { ++restarts; }

    std::atomic<int> pictures{0};
    std::atomic<int> withoutPicture{0};
    std::atomic<int> restarts{0};

  private:
    std::shared_future<void> gate_;
};

// A frame whose picture, from the gated decoder, has the frame's size as its colour.
LiveFrame FrameOfSize(std::size_t bytes, bool key) {
    BitmapInfoHeader header;
    header.biWidth = header.biHeight = 4;
    header.biCompression = MakeFourcc('F', 'M', 'P', '4');
    return Frame(sim::PackFrame(header, Block(bytes, 1)), key);
}

// One channel on one worker whose decoder waits at the gate; its first frame, a key frame, is
// held there, so that all the room is left for the rest.
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
        // One more than there is room for: what waits goes, and so does every frame that
        // needs those before it.
        EXPECT_FALSE(channel->Submit(FrameOfSize(12, false)));
        EXPECT_FALSE(channel->Submit(FrameOfSize(13, false)));
    }
    EXPECT_TRUE(channel->behind());
    EXPECT_EQ(channel->waitingFrames(), 0u);
    EXPECT_TRUE(channel->Submit(FrameOfSize(20, true)));
    EXPECT_TRUE(channel->Submit(FrameOfSize(21, false)));
    EXPECT_TRUE(channel->Submit(FrameOfSize(22, false)));
    EXPECT_EQ(channel->droppedFrames(), room + 2);

    test::Pump(600);  // long enough for the waiting frames to count as late
    open.set_value();
    ASSERT_TRUE(test::WaitUntil([&] { return channel->decodedFrames() == 4; }));
    EXPECT_EQ(counts.restarts.load(), 1) << "decoding starts again at the key frame";
    // Of the frames that waited together only the last is made into a picture.
    EXPECT_EQ(counts.withoutPicture.load(), 2);
    EXPECT_EQ(counts.pictures.load(), 2);
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
    ASSERT_TRUE(test::WaitUntil([&] { return channel->waitingFrames() == 0; }));
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

// Eight channels at 25 frames a second, 6.5 ms a frame, on one worker: 1.3 times what it
// can decode. The channels furthest behind drop to their key frames and are marked, every frame
// still reaches the recordings, and at half the rate every channel is back to all its frames.
TEST(ReducedRate, ChannelsTheWorkerCannotKeepUpWithShowKeyFramesUntilTheLoadFalls) {
    constexpr int kChannels = 8;
    HeadlessChannelHost host;
    ChannelSet set(host);
    set.SetDecoderFactory([](const auto&, const auto&) { return std::make_unique<SlowDecoder>(); },
                          1);
    const std::vector<Block> stream = EncodeChannel(0, 48);  // a key frame every 12
    const auto choice = FindDecoder(*BitmapInfoHeader::Parse(stream.front()));
    std::vector<CountingSink> sinks(kChannels);
    std::vector<int> sent(kChannels, 0);
    int index = 0;
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        const Block& packed = stream[static_cast<std::size_t>(index++) % stream.size()];
        for (int c = 0; c < kChannels; ++c) {
            const sitemsg::VideoFrame frame{static_cast<std::uint32_t>(c + 1),
                                            static_cast<std::uint32_t>(c + 1), packed,
                                            *ParsePackedFrame(packed)};
            ASSERT_TRUE(set.TakeFrame(frame, *choice, true, false));
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

TEST(DecodeWorkers, StoppingWithFramesWaitingNeitherHangsNorLeaks) {
    std::promise<void> open;
    auto gate = open.get_future().share();
    auto workers = std::make_unique<DecodeWorkers>([] {}, 2);
    auto channel = workers->AddChannel(std::make_unique<GatedDecoder>(gate));
    for (int i = 0; i < 50; ++i) {
        channel->Submit(FrameOfSize(10, i == 0));
    }
    open.set_value();
    workers.reset();  // joins; what still waits is dropped with the channel
    channel.reset();
}

}  // namespace
}  // namespace orvane
