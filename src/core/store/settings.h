#pragma once

#include "store/key_store.h"
#include "store/registry_layout.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// Where recordings go, and why there.
struct RecordFolder {
    std::string path;     // the folder used, ending in the path separator
    std::string missing;  // the stored folder when it is missing and the default is used
    bool made = false;    // the default folder was made just now
    bool ready = true;    // the folder exists (false: the default folder could not be made)
};

// The user's videos folder with the subfolder "Orvane"; the working directory when the
// desktop names no videos folder.
std::string DefaultRecordFolder();

// Tells once that the stored record folder is missing, and again only after it was back.
class RecordFolderNotice {
  public:
    // The text to tell the operator now, or empty.
    std::string After(const RecordFolder& folder);

  private:
    std::string told_;
};

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
    std::string callBackFrom;                 // empty: anyone may call back
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
    bool ResumeAtStart() const;
    // Room for new recordings: old clips deleted when space is low (off: a warning only), and
    // the most days a clip is kept (0: for ever).
    bool DeleteOldClips() const;
    std::int32_t KeepDays() const;

    // What a start with ResumeAtStart goes back to: the operator's last site and the
    // channels recording there when the program last ran.
    std::string ResumeSite() const;
    void SetResumeSite(std::string_view address);
    std::vector<std::uint32_t> ResumeChannels() const;
    void SetResumeChannels(const std::vector<std::uint32_t>& channelIds);

    // The record folder actually used, always ending in the path separator: the stored
    // "RECPath" when it names a folder that can be entered, otherwise the default folder.
    // Nothing is made.
    std::string GetRecordPath() const;
    // The folder a recording starting now goes to. A stored folder that is missing is never
    // made: its volume may simply not be mounted, and a folder made under the empty mount
    // point would hide the clips once it is. The default folder is made when first needed.
    RecordFolder PrepareRecordFolder() const { return ResolveRecordFolder(true); }
    RecordFolder ResolveRecordFolder(bool makeDefault) const;
    // The same for a recording told its folder (orvane-cli record --dir): chosen while it can
    // be entered, else the default folder, as for the stored one.
    RecordFolder PrepareRecordFolder(const std::string& chosen) const {
        return ResolveFolder(chosen, true);
    }
    // The user's videos folder, subfolder "Orvane"; tests put a folder of theirs here.
    const std::string& defaultRecordFolder() const { return defaultRecordFolder_; }
    void SetDefaultRecordFolder(std::string folder) { defaultRecordFolder_ = std::move(folder); }
    void SetRecordPath(std::string_view path);

    CallSettings LoadCall() const;
    // Writes every value, in the order the connect dialog's OK writes them.
    void SaveCall(const CallSettings& call);
    NetSettings LoadNet() const;

  private:
    StoreResult<RegKey> OpenSection(std::string_view section) const;
    RecordFolder ResolveFolder(const std::string& chosen, bool makeDefault) const;

    KeyStore store_;
    std::string defaultRecordFolder_ = DefaultRecordFolder();
};

// Channel ids as kept for ResumeAtStart ("3,7,12"): decimal numbers separated by commas;
// anything else in the text is skipped, as are repeats.
std::vector<std::uint32_t> ParseChannelIds(std::string_view text);

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
