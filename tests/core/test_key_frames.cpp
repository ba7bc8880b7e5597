// Which frames a recording may start with and a player may seek to is read from each frame's
// own bytes, without decoding it; what the bytes say must match what the encoder made.
#include "media/ffmpeg_handles.h"
#include "media/key_frames.h"
#include "support/media_samples.h"
#include "support/sample_clips.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

namespace orvane {
namespace {

// 'K' for each frame the probe of the first frame's format takes for a key frame, '.' else.
std::string KeyFlags(const std::vector<Block>& packed) {
    std::string flags;
    for (const LiveFrame& frame : test::LiveFrames(packed)) {
        flags += frame.keyFrame ? 'K' : '.';
    }
    return flags;
}

// MPEG-2 frames, a codec the probe leaves to FFmpeg's parser, and the encoder's key flags.
std::vector<Block> EncodeMpeg2(int count, int groupOfPictures, std::string& keys) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = 64;
    context->height = 48;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = {1, 25};
    context->gop_size = groupOfPictures;
    context->max_b_frames = 0;
    EXPECT_EQ(avcodec_open2(context.get(), codec, nullptr), 0);
    FramePtr picture(av_frame_alloc());
    picture->format = context->pix_fmt;
    picture->width = context->width;
    picture->height = context->height;
    EXPECT_EQ(av_frame_get_buffer(picture.get(), 0), 0);
    BitmapInfoHeader header;
    header.biWidth = 64;
    header.biHeight = 48;
    header.biCompression = MakeFourcc('M', 'P', 'G', '2');
    PacketPtr packet(av_packet_alloc());
    std::vector<Block> frames;
    const auto drain = [&] {
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            frames.push_back(sim::PackFrame(header, std::span(packet->data, packet->size)));
            keys += (packet->flags & AV_PKT_FLAG_KEY) ? 'K' : '.';
            av_packet_unref(packet.get());
        }
    };
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(av_frame_make_writable(picture.get()), 0);
        for (int plane = 0; plane < 3; ++plane) {  // stripes that move a little each frame
            for (int y = 0; y < (plane ? 24 : 48); ++y) {
                std::memset(picture->data[plane] + y * picture->linesize[plane],
                            (y * 5 + i * 3 + plane * 60) & 0xFF, std::size_t(plane ? 32 : 64));
            }
        }
        picture->pts = i;
        EXPECT_EQ(avcodec_send_frame(context.get(), picture.get()), 0);
        drain();
    }
    avcodec_send_frame(context.get(), nullptr);  // what the encoder still holds
    drain();
    return frames;
}

TEST(KeyFrameProbe, EachCodecsKeyFramesAreThoseItsEncoderMade) {
    struct Row {
        sim::SimulatedCodec codec;
        const char* keys;
    };
    // MS Video 1 frames say nothing of their kind: only the first is taken as a key frame,
    // so that a player decodes from the start.
    for (const Row row : {Row{sim::SimulatedCodec::Mpeg4, "K....K....K."},
                          Row{sim::SimulatedCodec::Mjpeg, "KKKKKKKKKKKK"},
                          Row{sim::SimulatedCodec::MsMpeg4v3, "K....K....K."},
                          Row{sim::SimulatedCodec::Cinepak, "K....K....K."},
                          Row{sim::SimulatedCodec::MsVideo1, "K..........."},
                          Row{sim::SimulatedCodec::Uncompressed, "KKKKKKKKKKKK"},
                          Row{sim::SimulatedCodec::H264, "K....K....K."}}) {
        SCOPED_TRACE(sim::CodecName(row.codec).toStdString());
        EXPECT_EQ(KeyFlags(test::EncodeFrames(row.codec, 12, {64, 48}, 5)), row.keys);
    }
    std::string mpeg2Keys;
    const auto mpeg2 = EncodeMpeg2(12, 5, mpeg2Keys);
    EXPECT_EQ(KeyFlags(mpeg2), mpeg2Keys);
    EXPECT_NE(mpeg2Keys.find('.'), std::string::npos);
    // Every picture of this Indeo 5 sample is coded on its own (its index says so too).
    QString error;
    const auto indeo5 =
        sim::AviPacketSource::Load(test::MediaSample("iv50_320x240_x10.avi"), error);
    ASSERT_TRUE(indeo5) << error.toStdString();
    EXPECT_EQ(KeyFlags(indeo5->frames()), "KKKKKKKKKK");
}

// Bytes from a site or a file: a frame whose own sizes do not add up is never a key frame, and
// is never read past.
TEST(KeyFrameProbe, FramesWhoseSizesDoNotAddUpAreNotKeyFrames) {
    struct Row {
        const char* what;
        std::uint32_t fourcc;
        Block bytes;
    };
    const std::uint32_t cinepak = MakeFourcc('c', 'v', 'i', 'd');
    const std::uint32_t h264 = MakeFourcc('H', '2', '6', '4');
    const Row rows[] = {
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
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        BitmapInfoHeader format;
        format.biCompression = row.fourcc;
        EXPECT_FALSE(KeyFrameProbe(format).IsKeyFrame(row.bytes));
    }
    // H.264 units may carry their lengths instead of start codes: the IDR slice after another.
    BitmapInfoHeader format;
    format.biCompression = h264;
    EXPECT_TRUE(KeyFrameProbe(format).IsKeyFrame(Block{0, 0, 0, 2, 0x41, 0, 0, 0, 0, 1, 0x65}));
}

}  // namespace
}  // namespace orvane
