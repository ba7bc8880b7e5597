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

// Decodes one packed frame (BITMAPINFOHEADER + data) and drops its picture; packet and picture
// are the caller's, used again from frame to frame.
inline void DecodeOnly(AVCodecContext* context, AVPacket* packet, AVFrame* picture,
                       const Block& packed) {
    const auto frame = ParsePackedFrame(packed);
    av_new_packet(packet, static_cast<int>(frame->imageData.size()));
    std::memcpy(packet->data, frame->imageData.data(), frame->imageData.size());
    avcodec_send_packet(context, packet);
    av_packet_unref(packet);
    while (avcodec_receive_frame(context, picture) == 0) {
        av_frame_unref(picture);
    }
}

// Decodes every packed frame and drops the pictures.
inline void DecodeOnly(AVCodecContext* context, const std::vector<Block>& frames) {
    PacketPtr packet(av_packet_alloc());
    FramePtr picture(av_frame_alloc());
    for (const auto& packed : frames) {
        DecodeOnly(context, packet.get(), picture.get(), packed);
    }
}

}  // namespace orvane::bench
