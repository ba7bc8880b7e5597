#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QHostAddress;

namespace orvane {

// Which hosts may call the client back ("Net"/"CallBackFrom"): IPv4 addresses and a.b.c.d/nn
// ranges separated by commas. An empty value admits anyone; a value without one valid entry
// admits no one, so a typing slip never opens the port to everybody.
class CallerFilter {
  public:
    struct Range {
        std::uint32_t network = 0;  // first octet in the most significant byte
        std::uint32_t mask = 0;
    };
    struct Parsed;

    // Admits anyone.
    CallerFilter() = default;
    static Parsed Parse(std::string_view text);

    bool admitsAnyone() const { return anyone_; }
    const std::vector<Range>& ranges() const { return ranges_; }
    bool Admits(std::uint32_t ipv4) const;
    // IPv4 callers, including those a dual-stack socket reports as ::ffff:a.b.c.d; any other
    // IPv6 caller is admitted only when anyone is.
    bool Admits(const QHostAddress& address) const;

  private:
    bool anyone_ = true;
    std::vector<Range> ranges_;
};

struct CallerFilter::Parsed {
    CallerFilter filter;
    std::vector<std::string> invalid;  // the entries that are neither address nor range
};

}  // namespace orvane
