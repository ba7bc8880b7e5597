// What the connection does with each message a site sends.
#include "common/command_ids.h"
#include "common/fixed_text.h"
#include "common/log.h"
#include "site/site_connection.h"
#include "wire/byte_order.h"

namespace orvane {

void SiteConnection::Dispatch(std::span<const std::uint8_t> message) {
    // The assembler only hands over messages whose length test passed, so the header and
    // the payload it announces are both there.
    const std::uint8_t type = message[SiteMessageHeader::kTypeOffset];
    const std::uint32_t first = ReadLe32(message, SiteMessageHeader::kFirstParamOffset);
    const std::uint32_t second = ReadLe32(message, SiteMessageHeader::kSecondParamOffset);
    const std::uint32_t length = ReadLe32(message, SiteMessageHeader::kLengthOffset);
    const auto payload = message.subspan(SiteMessageHeader::kSize, length);

    switch (static_cast<SiteMessage>(type)) {
        case SiteMessage::ChannelList:
            OnChannelList(first, second, payload);
            return;
        case SiteMessage::VideoFrame:
            OnVideoFrame(first, second, payload);
            return;
        case SiteMessage::LoginAccepted:
            services_.frame.PostCommand(cmd::kOpenChannel);
            return;
        case SiteMessage::LoginRejected:
            services_.frame.PostCommand(cmd::kLoginError);
            return;
        case SiteMessage::LoginAgain:
            Login();
            return;
        case SiteMessage::ChannelStopped:
            OnChannelStopped(second);
            return;
        case SiteMessage::EventRecord:
            if (payload.size() >= kEventRecordSize && services_.events) {
                services_.events->AddEventRecord(payload.first(kEventRecordSize));
            } else if (payload.size() < kEventRecordSize) {
                qCWarning(lcSite) << "event record of" << payload.size() << "bytes dropped";
            }
            return;
        case SiteMessage::LimitReached:
            services_.frame.PostCommand(cmd::kLimitError);
            return;
        case SiteMessage::SiteClosing:
            services_.frame.PostCommand(cmd::kDisconnect);
            return;
    }
    qCDebug(lcSite) << "unknown site message type" << type;
    services_.frame.SetStatusLine(sitetext::kStreamError);
}

void SiteConnection::OnChannelList(std::uint32_t count, std::uint32_t siteBits,
                                   std::span<const std::uint8_t> payload) {
    channelOpenPermission_ = (siteBits & 1u) != 0;
    channelClosePermission_ = (siteBits & 2u) != 0;
    std::vector<ChannelEntry> entries;
    const std::size_t present = payload.size() / kChannelEntrySize;
    const std::size_t used = std::min<std::size_t>(count, present);
    for (std::size_t i = 0; i < used; ++i) {
        const auto entry = payload.subspan(i * kChannelEntrySize, kChannelEntrySize);
        const auto id = static_cast<std::int32_t>(ReadLe32(entry, 0));
        if (id <= 0) {
            continue;
        }
        const auto name = entry.subspan(4, kChannelNameField);
        entries.push_back(
            {id, TextFromField(std::span(reinterpret_cast<const char*>(name.data()), name.size()))});
    }
    services_.channels.Replace(std::move(entries));
}

void SiteConnection::OnVideoFrame(std::uint32_t channelId, std::uint32_t channelNumber,
                                  std::span<const std::uint8_t> payload) {
    const auto frame = ParsePackedFrame(payload);
    if (!frame) {
        return;  // biSize not 40, absurd size, or less data than the header promises
    }
    if (!decoder_) {
        decoder_ = FindDecoder(frame->header);
        if (!decoder_) {
            qCWarning(lcSite) << "no decoder for" << FourccText(frame->header.biCompression).c_str();
            services_.frame.PostCommand(cmd::kCodecError);
            return;
        }
        qCInfo(lcSite) << "decoding with" << decoder_->name.c_str() << "found by"
                       << decoder_->handler.c_str();
    }
    ChannelLink* link = FindLinkByNumber(channelNumber);
    if (link && !link->hasWindow()) {
        return;  // the operator closed this channel; frames still on the way are dropped
    }
    if (!link) {
        link = CreateWindowLink(channelId, channelNumber, *frame);
        if (!link) {
            return;
        }
    }
    if (!link->decoder) {
        link->decoder = VideoDecoder::Create(*decoder_, frame->header);
        if (!link->decoder) {
            services_.frame.PostCommand(cmd::kCodecError);
            return;
        }
    }
    ++frameCounter_;
    ChannelWindow* window = link->window;
    if (window->IsRecording()) {
        window->RecordFrame(payload);
    }
    window->StoreFrame(payload);
    if (auto picture = link->decoder->Decode(*frame)) {
        window->DrawPicture(*picture);
    }
}

ChannelLink* SiteConnection::CreateWindowLink(std::uint32_t channelId,
                                              std::uint32_t channelNumber,
                                              const PackedFrame& frame) {
    VideoWindowState& state = services_.windows;
    const QSize area = services_.host.VideoAreaSize();
    if (state.nextPosition.x() > area.width() - frame.width()) {
        state.nextPosition.setX(0);
    }
    if (state.nextPosition.y() > area.height() - frame.height()) {
        state.nextPosition.setY(0);
    }
    ChannelWindowParams params;
    params.channelId = channelId;
    params.channelNumber = channelNumber;
    params.closePermission = channelClosePermission_;
    params.format = frame.header;
    params.pictureSize = QSize(frame.width(), frame.height());
    params.position = state.nextPosition;
    ChannelWindow* window = services_.host.CreateChannelWindow(params);
    if (!window) {
        return nullptr;
    }
    connect(window->object(), &QObject::destroyed, this,
            [this, window] { ForgetWindow(window); });
    if (alarmMode_) {
        services_.host.PlayAlarm();
        window->StartAlarmActions();
    }
    ++state.openWindows;
    state.nextPosition += QPoint(VideoWindowState::kCascadeStepX, VideoWindowState::kCascadeStepY);

    ChannelLink& link = links_.emplace_back();
    link.channelId = channelId;
    link.channelNumber = channelNumber;
    link.window = window;
    link.windowObject = window->object();
    ArrangeIfAutomatic();
    return &link;
}

void SiteConnection::OnChannelStopped(std::uint32_t channelNumber) {
    ChannelLink* link = FindLinkByNumber(channelNumber);
    if (link && link->hasWindow()) {
        link->window->MarkStopped();
    }
}

}  // namespace orvane
