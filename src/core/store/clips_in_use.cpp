#include "store/clips_in_use.h"

#include <map>
#include <mutex>

namespace orvane {
namespace {

std::mutex& HeldMutex() {
    static std::mutex mutex;
    return mutex;
}

// Counted: two players may show one clip.
std::map<QString, int>& HeldClips() {
    static std::map<QString, int> clips;
    return clips;
}

}  // namespace

ClipUse::ClipUse(QString path) : path_(std::move(path)) {
    const std::lock_guard lock(HeldMutex());
    ++HeldClips()[path_];
}

ClipUse::~ClipUse() {
    const std::lock_guard lock(HeldMutex());
    auto& clips = HeldClips();
    if (const auto it = clips.find(path_); it != clips.end() && --it->second <= 0) {
        clips.erase(it);
    }
}

std::set<QString> ClipUse::Held() {
    const std::lock_guard lock(HeldMutex());
    std::set<QString> held;
    for (const auto& [path, count] : HeldClips()) {
        held.insert(path);
    }
    return held;
}

}  // namespace orvane
