#include "site/channel_table.h"

#include <algorithm>

namespace orvane {

std::string ChannelTable::GetChannelName(std::int32_t id) const {
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [id](const ChannelEntry& entry) { return entry.id == id; });
    return it == entries_.end() ? std::string() : it->name;
}

}  // namespace orvane
