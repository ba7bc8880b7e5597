#include "support/independent_readers.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

namespace orvane::test {
namespace {

// The little-endian number of count bytes at at.
std::uint32_t LittleEndian(const std::string& bytes, std::uint64_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

void Parse(const std::string& bytes, std::uint64_t from, std::uint64_t to,
           std::vector<RiffChunk>& out) {
    for (std::uint64_t at = from; at + 8 <= to;) {
        RiffChunk chunk{bytes.substr(at, 4), {}, at, LittleEndian(bytes, at + 4, 4), {}};
        const std::uint64_t end = std::min<std::uint64_t>(to, at + 8 + chunk.size);
        if ((chunk.id == "RIFF" || chunk.id == "LIST") && at + 12 <= end) {
            chunk.listType = bytes.substr(at + 8, 4);
            Parse(bytes, at + 12, end, chunk.children);
        }
        at += 8 + chunk.size + (chunk.size & 1);
        out.push_back(std::move(chunk));
    }
}

void Collect(const std::vector<RiffChunk>& chunks, const std::string& name,
             std::vector<const RiffChunk*>& out) {
    for (const RiffChunk& chunk : chunks) {
        if (chunk.id == name || chunk.listType == name) {
            out.push_back(&chunk);
        }
        Collect(chunk.children, name, out);
    }
}

}  // namespace

std::optional<RiffFile> RiffFile::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    RiffFile file;
    file.bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    Parse(file.bytes_, 0, file.bytes_.size(), file.top_);
    return file;
}

const RiffChunk* RiffFile::Find(const std::string& idOrListType) const {
    const auto all = FindAll(idOrListType);
    return all.empty() ? nullptr : all.front();
}

std::vector<const RiffChunk*> RiffFile::FindAll(const std::string& idOrListType) const {
    std::vector<const RiffChunk*> out;
    Collect(top_, idOrListType, out);
    return out;
}

std::uint32_t RiffFile::U32(std::uint64_t offset) const {
    return offset + 4 > bytes_.size() ? 0 : LittleEndian(bytes_, offset, 4);
}

std::uint16_t RiffFile::U16(std::uint64_t offset) const {
    return offset + 2 > bytes_.size() ? 0
                                      : static_cast<std::uint16_t>(LittleEndian(bytes_, offset, 2));
}

std::string RiffFile::Data(const RiffChunk& chunk) const {
    return bytes_.substr(chunk.offset + 8, chunk.size);
}

std::vector<FrameTimesSeen> FrameTimesIn(const RiffFile& riff) {
    std::map<std::uint64_t, std::int64_t> indexEntriesAt;
    for (const RiffChunk* index : riff.FindAll("ix00")) {
        indexEntriesAt[index->offset] = riff.U32(index->offset + 12);
    }
    std::vector<FrameTimesSeen> out;
    for (const RiffChunk* junk : riff.FindAll("JUNK")) {
        const std::uint64_t at = junk->offset + 8;
        const std::uint32_t count = riff.U32(at + 8);
        const std::string data = riff.Data(*junk);
        if (data.size() < 16 + 8 * std::uint64_t{count} || data.substr(0, 4) != "OVTM") {
            continue;
        }
        FrameTimesSeen seen{riff.U32(at + 4), static_cast<std::int32_t>(riff.U32(at + 12)), {}, -1};
        for (std::uint32_t k = 0; k < count; ++k) {
            const std::uint64_t time =
                riff.U32(at + 16 + 8 * k) | std::uint64_t{riff.U32(at + 20 + 8 * k)} << 32;
            seen.times.push_back(static_cast<std::int64_t>(time));
        }
        const auto next = indexEntriesAt.find(at + junk->size + (junk->size & 1));
        if (next != indexEntriesAt.end()) {
            seen.nextIndexEntries = next->second;
        }
        out.push_back(std::move(seen));
    }
    return out;
}

ProbedVideo ProbeVideo(const std::string& path) {
    QProcess ffprobe;
    ffprobe.start("ffprobe",
                  {"-v", "error", "-select_streams", "v:0", "-show_packets", "-show_entries",
                   "stream=codec_tag_string,codec_name,extradata_size,duration,width,height,level"
                   ":packet=flags:format_tags=title,creation_time",
                   "-of", "compact=p=0:nk=0", QString::fromStdString(path)});
    ProbedVideo probed;
    if (!ffprobe.waitForFinished(120000) || ffprobe.exitCode() != 0) {
        return probed;
    }
    probed.opened = true;
    std::map<QString, QString> stream;
    for (const QString& line : QString::fromUtf8(ffprobe.readAllStandardOutput()).split('\n')) {
        for (const QString& field : line.split('|')) {
            const QString key = field.section('=', 0, 0), value = field.section('=', 1);
            if (key == "flags") {
                probed.packetKeys.push_back(value.startsWith('K'));
            } else {
                stream[key] = value;
            }
        }
    }
    probed.codecTag = stream["codec_tag_string"].toStdString();
    probed.codecName = stream["codec_name"].toStdString();
    probed.extradataBytes = stream["extradata_size"].toInt();
    probed.durationSeconds = stream["duration"].toDouble();
    probed.width = stream["width"].toInt();
    probed.height = stream["height"].toInt();
    probed.level = stream["level"].toInt();
    probed.title = stream["tag:title"].toStdString();
    probed.creationTime = stream["tag:creation_time"].toStdString();
    return probed;
}

DecodedFrames DecodeFrameMd5s(const QString& path) {
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", path, "-map", "0:v:0", "-f", "framemd5", "-"});
    DecodedFrames decoded;
    if (!ffmpeg.waitForFinished(120000)) {
        decoded.errors = "ffmpeg did not finish";
        return decoded;
    }
    decoded.errors = ffmpeg.readAllStandardError().toStdString();
    for (const QByteArray& line : ffmpeg.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty() && !line.startsWith('#')) {
            decoded.md5s.push_back(line.split(',').last().trimmed().toStdString());
        }
    }
    return decoded;
}

QByteArray ReadBackWithFfmpeg(const QString& path) {
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    if (!ffmpeg.waitForFinished(30000) || ffmpeg.exitCode() != 0) {
        ADD_FAILURE() << "ffmpeg could not read " << path.toStdString() << ": "
                      << ffmpeg.readAllStandardError().toStdString();
        return {};
    }
    return ffmpeg.readAllStandardOutput();
}

QByteArray Rgb24Rows(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    QByteArray rows;
    for (int y = 0; y < rgb.height(); ++y) {
        rows.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
    }
    return rows;
}

}  // namespace orvane::test
