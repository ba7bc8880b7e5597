#include "site/headless_host.h"

namespace orvane {

void HeadlessChannelWindow::DrawPicture(const DecodedPicture& picture) {
    if (picturesDrawn_ == 0) {
        firstDraw_.start();
        firstPicture_ = picture.image.copy();
    }
    lastPicture_ = picture.image;
    lastDrawAtMs_ = firstDraw_.elapsed();
    ++picturesDrawn_;
    emit pictureDrawn(picturesDrawn_);
}

void HeadlessChannelWindow::CloseWindow() {
    closed_ = true;
}

ChannelWindow* HeadlessChannelHost::CreateChannelWindow(const ChannelWindowParams& params) {
    if (refuse_) {
        return nullptr;
    }
    windows_.push_back(std::make_unique<HeadlessChannelWindow>(params));
    if (onWindowCreated) {
        onWindowCreated(windows_.back().get());
    }
    return windows_.back().get();
}

HeadlessChannelWindow* HeadlessChannelHost::WindowFor(std::uint32_t channelNumber) const {
    for (const auto& window : windows_) {
        if (window->params().channelNumber == channelNumber) {
            return window.get();
        }
    }
    return nullptr;
}

}  // namespace orvane
