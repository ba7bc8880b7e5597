#include "media/key_frames.h"

#include "common/block.h"
#include "media/ffmpeg_handles.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace orvane {
namespace {

AVCodecID CodecFor(const BitmapInfoHeader& format) {
    if (format.biCompression == BitmapInfoHeader::kBiRgb) {
        return AV_CODEC_ID_RAWVIDEO;
    }
    const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_id(tags, format.biCompression);
}

// MPEG-4 part 2: the picture's VOP start code (00 00 01 B6) is followed by its coding type
// in the top two bits; 0 is intra. Read here rather than by FFmpeg's parser, which needs
// the sequence headers first and complains about a recording that starts without them.
bool Mpeg4Key(std::span<const std::uint8_t> data) {
    for (std::size_t i = 0; i + 4 < data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6) {
            return (data[i + 4] >> 6) == 0;
        }
    }
    return false;
}

// H.264: a picture that holds an IDR slice (NAL unit type 5) starts a new sequence. Units
// are delimited by start codes, or else carry a four-byte length each.
bool H264Key(std::span<const std::uint8_t> data) {
    constexpr std::uint8_t kIdrSlice = 5;
    const bool annexB = data.size() >= 3 && data[0] == 0 && data[1] == 0 &&
                        (data[2] == 1 || (data[2] == 0 && data.size() >= 4 && data[3] == 1));
    if (annexB) {
        for (std::size_t i = 0; i + 3 < data.size(); ++i) {
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 &&
                (data[i + 3] & 0x1F) == kIdrSlice) {
                return true;
            }
        }
        return false;
    }
    std::size_t at = 0;
    while (data.size() - at > 4) {
        const std::size_t length = std::size_t{data[at]} << 24 | std::size_t{data[at + 1]} << 16 |
                                   std::size_t{data[at + 2]} << 8 | data[at + 3];
        at += 4;
        if (length == 0 || length > data.size() - at) {
            return false;
        }
        if ((data[at] & 0x1F) == kIdrSlice) {
            return true;
        }
        at += length;
    }
    return false;
}

// MS MPEG-4 v1 to v3 start each picture with its type in the first two bits: 0 is intra.
bool MsMpeg4Key(std::span<const std::uint8_t> data) {
    return !data.empty() && (data[0] >> 6) == 0;
}

// A Cinepak frame is a 10-byte header and strips; a strip whose id is 0x10xx is coded on
// its own, 0x11xx refers to the previous frame.
bool CinepakKey(std::span<const std::uint8_t> data) {
    constexpr std::size_t kFrameHeader = 10;
    constexpr std::size_t kStripHeader = 12;
    if (data.size() < kFrameHeader) {
        return false;
    }
    const unsigned strips = unsigned{data[8]} << 8 | data[9];
    if (strips == 0) {
        return false;
    }
    std::size_t at = kFrameHeader;
    for (unsigned strip = 0; strip < strips; ++strip) {
        if (data.size() - at < kStripHeader) {
            return false;
        }
        if (data[at] != 0x10) {
            return false;
        }
        const std::size_t size = std::size_t{data[at + 2]} << 8 | data[at + 3];
        if (size < kStripHeader || size > data.size() - at) {
            return false;
        }
        at += size;
    }
    return true;
}

// Indeo 5 pictures start with a 5-bit start code (all ones) and a 3-bit frame type, read
// from the low bits up; type 0 is intra.
bool Indeo5Key(std::span<const std::uint8_t> data) {
    return !data.empty() && (data[0] & 0x1F) == 0x1F && (data[0] >> 5) == 0;
}

}  // namespace

struct KeyFrameProbe::Parser {
    struct ParserDeleter {
        void operator()(AVCodecParserContext* state) const { av_parser_close(state); }
    };
    std::unique_ptr<AVCodecParserContext, ParserDeleter> parser;
    CodecContextPtr context;
    Block padded;
};

KeyFrameProbe::KeyFrameProbe(const BitmapInfoHeader& format) {
    const AVCodecID codec = CodecFor(format);
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec);
    if (descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY)) {
        method_ = Method::IntraOnly;
        return;
    }
    switch (codec) {
        case AV_CODEC_ID_MPEG4:
            method_ = Method::Mpeg4;
            return;
        case AV_CODEC_ID_H264:
            method_ = Method::H264;
            return;
        case AV_CODEC_ID_MSMPEG4V1:
        case AV_CODEC_ID_MSMPEG4V2:
        case AV_CODEC_ID_MSMPEG4V3:
            method_ = Method::MsMpeg4;
            return;
        case AV_CODEC_ID_CINEPAK:
            method_ = Method::Cinepak;
            return;
        case AV_CODEC_ID_INDEO5:
            method_ = Method::Indeo5;
            return;
        default:
            break;
    }
    auto parser = std::make_unique<Parser>();
    parser->parser.reset(av_parser_init(codec));
    if (parser->parser) {
        if (const AVCodec* decoder = avcodec_find_decoder(codec)) {
            parser->context.reset(avcodec_alloc_context3(decoder));
        }
    }
    if (parser->parser && parser->context) {
        // Every frame is one whole picture; the parser only reads its headers.
        parser->parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
        parser_ = std::move(parser);
        method_ = Method::Parser;
    }
}

KeyFrameProbe::~KeyFrameProbe() = default;

bool KeyFrameProbe::IsKeyFrame(std::span<const std::uint8_t> imageData) {
    const bool first = std::exchange(first_, false);
    switch (method_) {
        case Method::IntraOnly:
            return true;
        case Method::Mpeg4:
            return Mpeg4Key(imageData);
        case Method::H264:
            return H264Key(imageData);
        case Method::MsMpeg4:
            return MsMpeg4Key(imageData);
        case Method::Cinepak:
            return CinepakKey(imageData);
        case Method::Indeo5:
            return Indeo5Key(imageData);
        case Method::FirstOnly:
            return first;
        case Method::Parser:
            break;
    }
    // Parsers read past the end of what they are given; they get FFmpeg's padding.
    Block& padded = parser_->padded;
    padded.assign(imageData.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    if (!imageData.empty()) {
        std::memcpy(padded.data(), imageData.data(), imageData.size());
    }
    AVCodecParserContext* parser = parser_->parser.get();
    parser->key_frame = -1;
    parser->pict_type = AV_PICTURE_TYPE_NONE;
    std::uint8_t* out = nullptr;
    int outSize = 0;
    av_parser_parse2(parser, parser_->context.get(), &out, &outSize, padded.data(),
                     static_cast<int>(imageData.size()), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    return parser->key_frame == 1 ||
           (parser->key_frame == -1 && parser->pict_type == AV_PICTURE_TYPE_I);
}

std::optional<ImageBytes> LocateImageBytes(std::span<const std::uint8_t> packedFrame) {
    const auto header = BitmapInfoHeader::Parse(packedFrame);
    if (!header) {
        return std::nullopt;
    }
    const std::uint64_t offset = std::uint64_t{header->biSize} + 4ull * header->biClrUsed;
    if (offset > packedFrame.size()) {
        return std::nullopt;
    }
    const std::size_t rest = packedFrame.size() - static_cast<std::size_t>(offset);
    const std::size_t length =
        header->biSizeImage ? std::min<std::size_t>(header->biSizeImage, rest) : rest;
    return ImageBytes{static_cast<std::size_t>(offset), length};
}

void FramesSinceKey::Add(const LiveFrame& frame) {
    if (!frame.valid()) {
        return;
    }
    const std::size_t size = frame.packed->size();
    if (frame.keyFrame || frames_.size() >= kMaxFrames || bytes_ + size > kMaxBytes) {
        frames_.clear();
        bytes_ = 0;
    }
    bytes_ += size;
    frames_.push_back(frame);
}

}  // namespace orvane
