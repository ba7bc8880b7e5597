#include "export/mp4_output.h"

#include "common/log.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <QDateTime>

#include <cstring>

namespace orvane {
namespace {

QString AvText(const char* what, int code) {
    return QStringLiteral("%1 (%2)").arg(QLatin1String(what),
                                         QString::fromStdString(AvError(code).text()));
}

}  // namespace

Mp4Output::~Mp4Output() {
    if (ioOpen_) {
        avio_closep(&context_->pb);
    }
}

std::unique_ptr<Mp4Output> Mp4Output::Create(const QString& path, const Stream& stream,
                                             const QString& title, std::int64_t creationUtcMicros,
                                             QString& error) {
    RouteFfmpegLogging();
    std::unique_ptr<Mp4Output> output(new Mp4Output);
    const QByteArray name = path.toUtf8();
    AVFormatContext* raw = nullptr;
    // The name ends in ".part" while it is written: the format is named, not guessed.
    if (const int code = avformat_alloc_output_context2(&raw, nullptr, "mp4", name.constData());
        code < 0 || !raw) {
        error = AvText("no MP4 writer", code);
        return nullptr;
    }
    output->context_.reset(raw);
    output->packet_.reset(av_packet_alloc());
    AVStream* video = avformat_new_stream(raw, nullptr);
    if (!video || !output->packet_) {
        error = QStringLiteral("out of memory");
        return nullptr;
    }
    video->time_base = kTimeBase;
    AVCodecParameters* parameters = video->codecpar;
    parameters->codec_type = AVMEDIA_TYPE_VIDEO;
    parameters->codec_id = stream.codec;
    parameters->width = stream.width;
    parameters->height = stream.height;
    parameters->format = AV_PIX_FMT_YUV420P;
    if (!stream.config.empty()) {
        parameters->extradata = static_cast<std::uint8_t*>(
            av_mallocz(stream.config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!parameters->extradata) {
            error = QStringLiteral("out of memory");
            return nullptr;
        }
        std::memcpy(parameters->extradata, stream.config.data(), stream.config.size());
        parameters->extradata_size = static_cast<int>(stream.config.size());
    }
    av_dict_set(&raw->metadata, "title", title.toUtf8().constData(), 0);
    const QString created = QDateTime::fromMSecsSinceEpoch(creationUtcMicros / 1000, Qt::UTC)
                                .toString(Qt::ISODateWithMs);
    av_dict_set(&raw->metadata, "creation_time", created.toUtf8().constData(), 0);
    if (const int code = avio_open(&raw->pb, name.constData(), AVIO_FLAG_WRITE); code < 0) {
        error = AvText("cannot create the file", code);
        return nullptr;
    }
    output->ioOpen_ = true;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    const int written = avformat_write_header(raw, &options);
    av_dict_free(&options);
    if (written < 0) {
        error = AvText("cannot write the MP4 header", written);
        return nullptr;
    }
    return output;
}

bool Mp4Output::Write(std::span<const std::uint8_t> data, std::int64_t pts, std::int64_t duration,
                      bool key, QString& error) {
    AVPacket* packet = packet_.get();
    av_packet_unref(packet);
    if (av_new_packet(packet, static_cast<int>(data.size())) < 0) {
        error = QStringLiteral("out of memory");
        return false;
    }
    std::memcpy(packet->data, data.data(), data.size());
    packet->pts = packet->dts = pts;
    packet->duration = duration;
    packet->flags = key ? AV_PKT_FLAG_KEY : 0;
    return Write(*packet, error);
}

bool Mp4Output::Write(AVPacket& packet, QString& error) {
    packet.stream_index = 0;
    // The writer takes the packet's data and leaves it blank.
    if (const int code = av_write_frame(context_.get(), &packet); code < 0) {
        error = AvText("cannot write a frame", code);
        return false;
    }
    return true;
}

bool Mp4Output::Finish(QString& error) {
    if (const int code = av_write_trailer(context_.get()); code < 0) {
        error = AvText("cannot finish the MP4 file", code);
        return false;
    }
    ioOpen_ = false;
    if (const int code = avio_closep(&context_->pb); code < 0) {
        error = AvText("cannot close the MP4 file", code);
        return false;
    }
    return true;
}

}  // namespace orvane
