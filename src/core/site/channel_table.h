#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

// One channel of the connected site: its identifier and its display name.
struct ChannelEntry {
    static constexpr std::size_t kNameBytes = 32;

    std::int32_t id = 0;
    std::string name;  // UTF-8, decoded from the wire field of kNameBytes single bytes
};

// The channels of the connected site, replaced by every channel list the site sends.
class ChannelTable {
  public:
    void Replace(std::vector<ChannelEntry> entries) { entries_ = std::move(entries); }
    void Append(ChannelEntry entry) { entries_.push_back(std::move(entry)); }
    // Releases the storage as well as the entries.
    void Clear() { std::vector<ChannelEntry>().swap(entries_); }

    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    const std::vector<ChannelEntry>& entries() const { return entries_; }

    // The name of the first entry with this id; empty when none has it.
    std::string GetChannelName(std::int32_t id) const;

  private:
    std::vector<ChannelEntry> entries_;
};

}  // namespace orvane
