#pragma once

#include "store/key_store.h"
#include "store/registry_layout.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace orvane {

// Section "Call", read with every default and range applied.
struct CallSettings {
    std::int32_t option = kAddressModeIp;
    std::string user;
    std::string password;
    std::uint32_t dial = 0;  // IPv4 address, first octet in the most significant byte
    std::string identify;
    std::int32_t formatSize = kFormatSizeLarge;
    std::int32_t quality = kDefaultQuality;
    std::int32_t save = 0;
    std::int32_t reLink = 1;

    bool usesIdentifyServer() const { return option == kAddressModeIdentify; }
    bool savesPassword() const { return save == 1; }
    bool reLinkOn() const { return reLink == 1; }
};

// Section "Net": where sites, identify servers and call-backs are reached.
struct NetSettings {
    std::uint16_t sitePort = kDefaultSitePort;
    std::uint16_t identifyPort = kDefaultIdentifyPort;
    std::uint16_t listenPort = kDefaultListenPort;
    std::string identifyPrimary = kDefaultIdentifyPrimary;
    std::string identifyFallback = kDefaultIdentifyFallback;
    std::string codePage = kDefaultCodePage;  // a name for CodePage
};

// The application profile (HKCU\Software\Quillmar-Brakken\Orvane\<section>) over a key
// store. Reads never fail: an absent value, a value of the wrong type or one out of range
// gives the default. Failed writes are logged, not reported.
class Settings {
  public:
    explicit Settings(KeyStore store) : store_(std::move(store)) {}

    KeyStore& store() { return store_; }
    const KeyStore& store() const { return store_; }

    std::string GetProfileString(std::string_view section, std::string_view name,
                                 std::string_view defaultValue) const;
    std::int32_t GetProfileInt(std::string_view section, std::string_view name,
                               std::int32_t defaultValue) const;
    // Text values are stored with their terminating NUL, numbers as REG_DWORD.
    bool WriteProfileString(std::string_view section, std::string_view name,
                            std::string_view value);
    bool WriteProfileInt(std::string_view section, std::string_view name, std::int32_t value);

    // Section "Setting" by id; -1 when absent. Ids other than those of SettingId read the
    // section's unnamed value.
    std::int32_t GetSetting(SettingId id) const;
    void SetSetting(SettingId id, std::int32_t value);

    // The settings as the program uses them.
    bool VideoArrange() const;
    std::int32_t LimitDiskSpaceMb() const;
    std::int32_t CheckTimerSeconds() const;
    bool AutoRun() const;
    // Room for new recordings: old clips deleted when space is low (off: a warning only), and
    // the most days a clip is kept (0: for ever).
    bool DeleteOldClips() const;
    std::int32_t KeepDays() const;

    // The record folder, always ending in the path separator: the stored "RECPath" when it
    // names a folder that can be entered, otherwise the current working directory.
    std::string GetRecordPath() const;
    // Makes the stored record folder when it has gone (removed, or its volume not mounted
    // at the time), so that a recording lands where the operator chose rather than in the
    // working directory. False, and logged, when it cannot be made; true when there is
    // nothing to make.
    bool MakeRecordFolder() const;
    void SetRecordPath(std::string_view path);

    CallSettings LoadCall() const;
    void SaveCall(const CallSettings& call);
    NetSettings LoadNet() const;

  private:
    StoreResult<RegKey> OpenSection(std::string_view section) const;

    KeyStore store_;
};

// The settings name of a SettingId ("VideoArrange", ...), empty for an unknown id.
std::string_view SettingName(SettingId id);

}  // namespace orvane

namespace orvane {

// The settings of this run: from the store file when it can be used, otherwise from a store
// in memory (defaults) with the reason kept, so the operator can be told once. The file that
// could not be used is left exactly as it was.
struct OpenedSettings {
    Settings settings;
    OpenProblem problem = OpenProblem::None;
    std::string detail;
};
OpenedSettings OpenSettings(const std::string& path);

}  // namespace orvane
