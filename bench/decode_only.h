#pragma once

// The baseline the decoding figures are measured against: libavcodec alone with one thread,
// the work `ffmpeg -threads 1 -f null` does, without conversion or drawing.
#include "media/ffmpeg_handles.h"
#include "wire/bitmap_info.h"

#include <cstring>
#include <vector>

namespace orvane::bench {

// A one-thread decoder for a codec.
inline CodecContextPtr OpenDecodeOnly(AVCodecID id) {
    const AVCodec* codec = avcodec_find_decoder(id);
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->thread_count = 1;
    avcodec_open2(context.get(), codec, nullptr);
    return context;
}

// Decodes every packed frame (BITMAPINFOHEADER + data) and drops the pictures.
inline void DecodeOnly(AVCodecContext* context, const std::vector<Block>& frames) {
    PacketPtr packet(av_packet_alloc());
    FramePtr picture(av_frame_alloc());
    for (const auto& packed : frames) {
        const auto frame = ParsePackedFrame(packed);
        av_new_packet(packet.get(), static_cast<int>(frame->imageData.size()));
        std::memcpy(packet->data, frame->imageData.data(), frame->imageData.size());
        avcodec_send_packet(context, packet.get());
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(context, picture.get()) == 0) {
            av_frame_unref(picture.get());
        }
    }
}

}  // namespace orvane::bench
