#include "camera_picture.h"
#include "frame_source.h"
#include "media/decoded_picture.h"
#include "media/decoder_registry.h"
#include "media/ffmpeg_handles.h"
#include "media/picture_scaler.h"
#include "media/video_decoder.h"
#include "support/media_samples.h"
#include "support/message_guard.h"
#include "wire/bitmap_info.h"

#include <QFile>

#include <algorithm>
#include <array>

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
    EXPECT_TRUE(ParsePackedFrame(FrameWith(good, 100)));

    Block frame = FrameWith(good, 100);
    frame[0] = 41;  // biSize
    EXPECT_FALSE(ParsePackedFrame(frame));

    for (const auto& [w, h] : {std::pair{0, 240}, {320, 0}, {-320, 240}, {8193, 240}}) {
        EXPECT_FALSE(ParsePackedFrame(FrameWith(Header(good.biCompression, w, h), 100)))
            << w << " x " << h;
    }
    EXPECT_TRUE(ParsePackedFrame(FrameWith(Header(good.biCompression, 8192, 8192), 100)));

    frame = FrameWith(good, 100);
    frame[20] = 101;  // biSizeImage one byte more than there is
    EXPECT_FALSE(ParsePackedFrame(frame));

    BitmapInfoHeader palette = good;
    palette.biClrUsed = 0xFFFFFFFF;  // would overflow a 32-bit byte count
    Block huge = FrameWith(palette, 100);
    EXPECT_FALSE(ParsePackedFrame(huge));

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
    const Block topDown = test::TopDown(bottomUp);
    for (const Block* packed : std::array<const Block*, 2>{&bottomUp, &topDown}) {
        QString why;
        const QImage picture = DecodeSingleFrame(*packed, &why);
        EXPECT_EQ(picture, source)
            << (packed == &topDown ? "top down " : "bottom up ") << why.toStdString();
    }
    // A compressed frame has no row order of its own to turn round.
    EXPECT_FALSE(
        ParsePackedFrame(FrameWith(Header(MakeFourcc('F', 'M', 'P', '4'), 320, -240), 100)));
}

TEST(DecoderRegistry, TriesIndeo5ThenIndeo3ThenLocatesByFourcc) {
    EXPECT_EQ(FindDecoder(Header(MakeFourcc('I', 'V', '5', '0')))->handler, "iv50");
    EXPECT_EQ(FindDecoder(Header(MakeFourcc('i', 'v', '5', '0')))->handler, "iv50");
    EXPECT_EQ(FindDecoder(Header(MakeFourcc('I', 'V', '3', '2')))->handler, "iv32");
    const auto xvid = FindDecoder(Header(MakeFourcc('x', 'v', 'i', 'd')));
    ASSERT_TRUE(xvid);
    EXPECT_EQ(xvid->handler, "locate");
    EXPECT_EQ(xvid->name, "mpeg4");
    EXPECT_EQ(FindDecoder(Header(MakeFourcc('I', 'V', '4', '1')))->name, "indeo4");
    EXPECT_TRUE(FindDecoder(Header(BitmapInfoHeader::kBiRgb))->uncompressed());
    EXPECT_FALSE(FindDecoder(Header(MakeFourcc('Z', 'Z', 'Z', 'Z'))));
}

class SimulatorCodecs : public testing::TestWithParam<sim::SimulatedCodec> {};

TEST_P(SimulatorCodecs, DecodeToThePictureThatWasEncoded) {
    const QSize size(320, 240);
    auto encoder = sim::LiveEncoder::Create(
        GetParam(), GetParam() == sim::SimulatedCodec::Uncompressed ? QSize(160, 120) : size);
    ASSERT_TRUE(encoder);
    std::unique_ptr<VideoDecoder> decoder;
    int decoded = 0;
    for (int index = 0; index < 15; ++index) {
        const QImage source = sim::TestPattern(1, index, encoder->size());
        const auto packed = encoder->Encode(source);
        ASSERT_TRUE(packed);
        const auto frame = ParsePackedFrame(*packed);
        ASSERT_TRUE(frame);
        if (!decoder) {
            const auto choice = FindDecoder(frame->header);
            ASSERT_TRUE(choice);
            decoder = VideoDecoder::Create(*choice, frame->header);
            ASSERT_TRUE(decoder);
        }
        const auto picture = decoder->Decode(*frame);
        ASSERT_TRUE(picture) << "frame " << index;
        EXPECT_LT(test::MeanDifference(picture->image, source), 12.0) << "frame " << index;
        ++decoded;
    }
    EXPECT_EQ(decoded, 15);
}

INSTANTIATE_TEST_SUITE_P(All, SimulatorCodecs, testing::ValuesIn(sim::AllCodecs()),
                         [](const auto& codecInfo) {
                             return sim::CodecName(codecInfo.param).toStdString();
                         });

// A picture made at its window's size looks like the full-size picture smoothly scaled into
// the window (as pictures used to be drawn), fine lines and text included; the full-size
// picture made later from the frame it came with is the one a full-size decode gives.
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
        const auto packed = sim::LiveEncoder::Create(c.codec, c.frame)->Encode(source);
        ASSERT_TRUE(packed);
        const auto frame = ParsePackedFrame(*packed);
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

// The scaler's vector code writes whole blocks of pixels: a picture whose rows are not a
// multiple of its block size must still never be written past. Small allocations between
// the decodes sit right behind each picture, so a stray write corrupts them and the heap
// check aborts the run.
TEST(DecodedPicture, OddWidthsNeverWritePastThePicture) {
    for (const int width : {6, 10, 18, 22, 26, 30, 34, 42, 50, 58}) {
        auto encoder = sim::LiveEncoder::Create(sim::SimulatedCodec::Mjpeg, QSize(width, 8));
        ASSERT_TRUE(encoder);
        const auto packed = encoder->Encode(sim::TestPattern(0, 0, encoder->size()));
        ASSERT_TRUE(packed);
        const auto frame = ParsePackedFrame(*packed);
        ASSERT_TRUE(frame);
        const auto choice = FindDecoder(frame->header);
        ASSERT_TRUE(choice);
        std::vector<std::optional<DecodedPicture>> pictures;
        std::vector<std::vector<std::uint8_t>> neighbours;
        for (int round = 0; round < 40; ++round) {
            auto decoder = VideoDecoder::Create(*choice, frame->header);
            ASSERT_TRUE(decoder);
            pictures.push_back(decoder->Decode(*frame));
            ASSERT_TRUE(pictures.back()) << width;
            neighbours.emplace_back(static_cast<std::size_t>(width * 8 * 4), std::uint8_t{7});
        }
        for (const auto& bytes : neighbours) {
            ASSERT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](auto b) { return b == 7; }))
                << width;
        }
    }
}

// The frame header is checked against the size limit before a decoder sees the frame, but
// the stream inside carries a size of its own: a small header must not smuggle in a picture
// beyond the limit.
TEST(DecodedPicture, AStreamWiderThanTheLimitGivesNoPicture) {
    for (const int width : {kMaxFrameDimension, kMaxFrameDimension + 32}) {
        auto encoder = sim::LiveEncoder::Create(sim::SimulatedCodec::Mjpeg, QSize(width, 8));
        ASSERT_TRUE(encoder);
        auto packed = encoder->Encode(sim::TestPattern(0, 0, encoder->size()));
        ASSERT_TRUE(packed);
        BitmapInfoHeader header = *BitmapInfoHeader::Parse(*packed);
        header.biWidth = 32;
        header.WriteTo(*packed);
        const QImage picture = DecodeSingleFrame(*packed);
        if (width <= kMaxFrameDimension) {
            EXPECT_EQ(picture.size(), QSize(width, 8));
        } else {
            EXPECT_TRUE(picture.isNull()) << picture.width();
        }
    }
}

TEST(RealSamples, AMissingSampleFailsAndNamesTheFolder) {
    EXPECT_NONFATAL_FAILURE(
        EXPECT_TRUE(test::MediaSample(QStringLiteral("no-such-sample.avi")).isEmpty()),
        "no-such-sample.avi");
}

TEST(RealSamples, RawIndeo5KeyFramesDecode) {
    for (const auto& [name, width, height] :
         {std::tuple{"oxideav_intra-320x240-indeo5.iv50", 320, 240},
          std::tuple{"oxideav_intra-240x180-educ.iv50", 240, 180}}) {
        const QString path = test::MediaSample(name);
        ASSERT_FALSE(path.isEmpty());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        const Block packed =
            sim::PackFrame(Header(MakeFourcc('I', 'V', '5', '0'), width, height),
                           std::span(reinterpret_cast<const std::uint8_t*>(data.data()),
                                     static_cast<std::size_t>(data.size())));
        EXPECT_EQ(DecodeSingleFrame(packed).size(), QSize(width, height)) << name;
    }
}

// Xvid's packed pictures, at a size no block of the decoder fills (the other sample AVIs are
// decoded packet by packet in the media graph's tests).
TEST(RealSamples, EveryVideoPacketOfATinyXvidSampleDecodes) {
    QString error;
    const auto source = sim::AviPacketSource::Load(test::MediaSample("fc_xvid.avi"), error);
    ASSERT_TRUE(source) << error.toStdString();
    const auto choice = FindDecoder(source->format());
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->name, "mpeg4");
    auto decoder = VideoDecoder::Create(*choice, source->format());
    int pictures = 0;
    for (const Block& packed : source->frames()) {
        if (const auto picture = decoder->Decode(*ParsePackedFrame(packed))) {
            EXPECT_EQ(picture->image.size(), QSize(10, 5));
            ++pictures;
        }
    }
    EXPECT_GE(pictures, 29);
}

// Sites send uncompressed frames of 8 bits (through their colour table), 16 (5-5-5) and 32 as
// well as 24; each shows its colours, and a depth no site sends gives no picture.
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
        EXPECT_EQ(picture.isNull(), row.expected == 0);
        if (!picture.isNull()) {
            EXPECT_EQ(picture.size(), QSize(4, 2));
            EXPECT_EQ(picture.pixel(3, 1), row.expected);
        }
    }
}

// A decoder that keeps failing is flushed, and decodes again from the next key frame.
TEST(VideoDecoderFaults, ADecoderThatKeepsFailingIsFlushedAndRecovers) {
    test::ExpectedMessage flushed(QtWarningMsg, "orvane.media", "decoder kept failing");
    test::ExpectedMessage ffmpeg(QtWarningMsg, "orvane.media", "",
                                 test::ExpectedMessage::Occurrence::Optional);
    auto encoder = sim::LiveEncoder::Create(sim::SimulatedCodec::Mpeg4, QSize(64, 48));
    const Block key = *encoder->Encode(sim::TestPattern(1, 0, QSize(64, 48)));
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
