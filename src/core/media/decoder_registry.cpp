#include "media/decoder_registry.h"

#include "media/ffmpeg_handles.h"

namespace orvane {
namespace {

constexpr int kIndeo3MaxWidth = 640;
constexpr int kIndeo3MaxHeight = 480;

AVCodecID CodecForFourcc(std::uint32_t fourcc) {
    const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_id(tags, fourcc);
}

bool UncompressedSupported(const BitmapInfoHeader& format) {
    switch (format.biBitCount) {
        case 8:
        case 16:
        case 24:
        case 32:
            return true;
        default:
            return false;
    }
}

// The decompress query of a handler: does this codec take this input format? A codec
// answers only for the formats it was made for, and only when it can open at that size.
bool HandlerAccepts(AVCodecID handlerCodec, const BitmapInfoHeader& format) {
    if (CodecForFourcc(format.biCompression) != handlerCodec) {
        return false;
    }
    if (handlerCodec == AV_CODEC_ID_INDEO3 &&
        (format.biWidth > kIndeo3MaxWidth || format.biHeight > kIndeo3MaxHeight)) {
        return false;
    }
    return avcodec_find_decoder(handlerCodec) != nullptr;
}

DecoderChoice ChoiceFor(AVCodecID id, const char* handler) {
    const AVCodec* codec = avcodec_find_decoder(id);
    return {static_cast<int>(id), codec ? codec->name : "", handler};
}

}  // namespace

std::optional<DecoderChoice> FindDecoder(const BitmapInfoHeader& format) {
    if (HandlerAccepts(AV_CODEC_ID_INDEO5, format)) {
        return ChoiceFor(AV_CODEC_ID_INDEO5, "iv50");
    }
    if (HandlerAccepts(AV_CODEC_ID_INDEO3, format)) {
        return ChoiceFor(AV_CODEC_ID_INDEO3, "iv32");
    }
    if (format.biCompression == BitmapInfoHeader::kBiRgb) {
        if (!UncompressedSupported(format)) {
            return std::nullopt;
        }
        return DecoderChoice{0, "bi_rgb", "locate"};
    }
    const AVCodecID located = CodecForFourcc(format.biCompression);
    if (located == AV_CODEC_ID_NONE || !avcodec_find_decoder(located)) {
        return std::nullopt;
    }
    return ChoiceFor(located, "locate");
}

}  // namespace orvane
