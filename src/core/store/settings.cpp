#include "store/settings.h"

#include "common/fixed_text.h"
#include "common/log.h"

#include <QStandardPaths>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace orvane {
namespace {

std::string SectionPath(std::string_view section) {
    return std::string(kProfileKeyPath) + "\\" + std::string(section);
}

std::int32_t InRangeOr(std::int32_t value, std::int32_t low, std::int32_t high,
                       std::int32_t fallback) {
    return value >= low && value <= high ? value : fallback;
}

std::uint16_t PortOr(std::int32_t value, std::uint16_t fallback) {
    return static_cast<std::uint16_t>(InRangeOr(value, 1, 65535, fallback));
}

// A folder that could be made current: it exists and may be entered. Checked directly, so
// the process's working directory is left alone.
bool IsEnterableFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string WithSeparator(std::string path) {
    if (path.empty() || path.back() != std::filesystem::path::preferred_separator) {
        path.push_back(std::filesystem::path::preferred_separator);
    }
    return path;
}

std::string CurrentDirectory() {
    std::error_code ec;
    auto cwd = std::filesystem::current_path(ec);
    return ec ? std::string(".") : cwd.string();
}

}  // namespace

std::string_view SettingName(SettingId id) {
    switch (id) {
        case SettingId::VideoArrange:
            return "VideoArrange";
        case SettingId::LimitDiskSpace:
            return "LimitDiskSpace";
        case SettingId::CheckTimer:
            return "CheckTimer";
        case SettingId::AutoRun:
            return "AutoRun";
        case SettingId::ResumeAtStart:
            return "ResumeAtStart";
        case SettingId::DeleteOldClips:
            return "DeleteOldClips";
        case SettingId::KeepDays:
            return "KeepDays";
    }
    return {};
}

StoreResult<RegKey> Settings::OpenSection(std::string_view section) const {
    return store_.OpenKey(KeyStore::kRoot, SectionPath(section));
}

std::string Settings::GetProfileString(std::string_view section, std::string_view name,
                                       std::string_view defaultValue) const {
    const auto key = OpenSection(section);
    if (!key.ok()) {
        return std::string(defaultValue);
    }
    const auto value = store_.QueryValue(key.value, name);
    if (!value.ok() || value.value.type != static_cast<std::uint32_t>(ValueType::String)) {
        return std::string(defaultValue);
    }
    return std::string(TextBeforeNul(value.value.data));
}

std::int32_t Settings::GetProfileInt(std::string_view section, std::string_view name,
                                     std::int32_t defaultValue) const {
    const auto key = OpenSection(section);
    if (!key.ok()) {
        return defaultValue;
    }
    const auto value = store_.QueryValue(key.value, name);
    if (!value.ok() || value.value.type != static_cast<std::uint32_t>(ValueType::Dword) ||
        value.value.data.size() != 4) {
        return defaultValue;
    }
    const auto& b = value.value.data;
    const std::uint32_t raw = static_cast<std::uint32_t>(static_cast<unsigned char>(b[0])) |
                              static_cast<std::uint32_t>(static_cast<unsigned char>(b[1])) << 8 |
                              static_cast<std::uint32_t>(static_cast<unsigned char>(b[2])) << 16 |
                              static_cast<std::uint32_t>(static_cast<unsigned char>(b[3])) << 24;
    return static_cast<std::int32_t>(raw);
}

bool Settings::WriteProfileString(std::string_view section, std::string_view name,
                                  std::string_view value) {
    const auto key = store_.CreateKey(KeyStore::kRoot, SectionPath(section));
    std::string withNul(value);
    withNul.push_back('\0');
    const bool ok = key.ok() && store_.SetString(key.value, name, withNul) == StoreStatus::Ok;
    if (!ok) {
        qCWarning(lcStore) << "cannot write"
                           << QByteArray(section.data(), qsizetype(section.size()))
                           << QByteArray(name.data(), qsizetype(name.size()));
    }
    return ok;
}

bool Settings::WriteProfileInt(std::string_view section, std::string_view name,
                               std::int32_t value) {
    const auto key = store_.CreateKey(KeyStore::kRoot, SectionPath(section));
    const bool ok =
        key.ok() &&
        store_.SetDword(key.value, name, static_cast<std::uint32_t>(value)) == StoreStatus::Ok;
    if (!ok) {
        qCWarning(lcStore) << "cannot write"
                           << QByteArray(section.data(), qsizetype(section.size()))
                           << QByteArray(name.data(), qsizetype(name.size()));
    }
    return ok;
}

std::int32_t Settings::GetSetting(SettingId id) const {
    return GetProfileInt(section::kSetting, SettingName(id), kSettingAbsent);
}

void Settings::SetSetting(SettingId id, std::int32_t value) {
    WriteProfileInt(section::kSetting, SettingName(id), value);
}

bool Settings::VideoArrange() const {
    return GetSetting(SettingId::VideoArrange) != 0;
}

std::int32_t Settings::LimitDiskSpaceMb() const {
    return InRangeOr(GetSetting(SettingId::LimitDiskSpace), 1, kMaxLimitDiskSpaceMb,
                     kDefaultLimitDiskSpaceMb);
}

std::int32_t Settings::CheckTimerSeconds() const {
    return InRangeOr(GetSetting(SettingId::CheckTimer), 1, kMaxCheckTimerSeconds,
                     kDefaultCheckTimerSeconds);
}

bool Settings::AutoRun() const {
    return GetSetting(SettingId::AutoRun) == 1;
}

bool Settings::ResumeAtStart() const {
    return GetSetting(SettingId::ResumeAtStart) == 1;
}

bool Settings::DeleteOldClips() const {
    return GetSetting(SettingId::DeleteOldClips) == 1;
}

std::int32_t Settings::KeepDays() const {
    return InRangeOr(GetSetting(SettingId::KeepDays), 0, kMaxKeepDays, 0);
}

std::string Settings::ResumeSite() const {
    return GetProfileString(section::kSetting, resumevalue::kSite, "");
}

void Settings::SetResumeSite(std::string_view address) {
    WriteProfileString(section::kSetting, resumevalue::kSite, address);
}

std::vector<std::uint32_t> Settings::ResumeChannels() const {
    return ParseChannelIds(GetProfileString(section::kSetting, resumevalue::kChannels, ""));
}

void Settings::SetResumeChannels(const std::vector<std::uint32_t>& channelIds) {
    std::string text;
    for (const std::uint32_t id : channelIds) {
        text += (text.empty() ? "" : ",") + std::to_string(id);
    }
    WriteProfileString(section::kSetting, resumevalue::kChannels, text);
}

std::vector<std::uint32_t> ParseChannelIds(std::string_view text) {
    std::vector<std::uint32_t> ids;
    while (!text.empty()) {
        const std::size_t comma = std::min(text.find(','), text.size());
        std::string_view entry = text.substr(0, comma);
        while (!entry.empty() && entry.front() == ' ') {
            entry.remove_prefix(1);
        }
        while (!entry.empty() && entry.back() == ' ') {
            entry.remove_suffix(1);
        }
        std::uint32_t id = 0;
        const auto [end, error] = std::from_chars(entry.data(), entry.data() + entry.size(), id);
        if (!entry.empty() && error == std::errc() && end == entry.data() + entry.size() &&
            std::find(ids.begin(), ids.end(), id) == ids.end()) {
            ids.push_back(id);
        }
        text.remove_prefix(std::min(text.size(), comma + 1));
    }
    return ids;
}

std::string Settings::GetRecordPath() const {
    return ResolveRecordFolder(false).path;
}

RecordFolder Settings::ResolveRecordFolder(bool makeDefault) const {
    return ResolveFolder(GetProfileString(section::kKey, keyvalue::kRecPath, ""), makeDefault);
}

RecordFolder Settings::ResolveFolder(const std::string& chosen, bool makeDefault) const {
    RecordFolder folder;
    if (IsEnterableFolder(chosen)) {
        folder.path = WithSeparator(chosen);
        return folder;
    }
    folder.missing = chosen;
    folder.path = WithSeparator(defaultRecordFolder_);
    if (!IsEnterableFolder(defaultRecordFolder_)) {
        folder.ready = false;
        if (makeDefault) {
            std::error_code ec;
            std::filesystem::create_directories(defaultRecordFolder_, ec);
            folder.ready = IsEnterableFolder(defaultRecordFolder_);
            folder.made = folder.ready;
            if (folder.made) {
                qCInfo(lcStore) << "made the record folder" << defaultRecordFolder_.c_str();
            } else {
                qCWarning(lcStore) << "cannot make the record folder"
                                   << defaultRecordFolder_.c_str() << ec.message().c_str();
            }
        }
    }
    return folder;
}

std::string DefaultRecordFolder() {
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (videos.isEmpty()) {
        return CurrentDirectory();
    }
    return (std::filesystem::path(videos.toStdString()) / kApplicationName).string();
}

std::string RecordFolderNotice::After(const RecordFolder& folder) {
    if (folder.missing.empty()) {
        told_.clear();  // back: its next absence is told again
        return {};
    }
    if (folder.missing == told_) {
        return {};
    }
    told_ = folder.missing;
    return "The record folder " + folder.missing + " is missing; clips go to " + folder.path +
           " until it is back.";
}

void Settings::SetRecordPath(std::string_view path) {
    WriteProfileString(section::kKey, keyvalue::kRecPath, path);
}

CallSettings Settings::LoadCall() const {
    CallSettings call;
    const auto option = GetProfileInt(section::kCall, callvalue::kOption, kAddressModeIp);
    call.option = InRangeOr(option, kAddressModeIp, kAddressModeIdentify, kAddressModeIp);
    // Cut to what the connect dialog holds, in its unit: characters, not UTF-8 bytes.
    call.user =
        CutToChars(GetProfileString(section::kCall, callvalue::kUser, ""), kUserNameMaxBytes);
    call.password =
        CutToChars(GetProfileString(section::kCall, callvalue::kPassWord, ""), kPasswordMaxBytes);
    call.dial = static_cast<std::uint32_t>(GetProfileInt(section::kCall, callvalue::kDial, 0));
    call.identify = CutToChars(GetProfileString(section::kCall, callvalue::kIdentify, ""),
                               kIdentifyCodeMaxBytes);
    call.formatSize = GetProfileInt(section::kCall, callvalue::kFormatSize, kFormatSizeLarge);
    call.quality = InRangeOr(GetProfileInt(section::kCall, callvalue::kQuality, kDefaultQuality), 0,
                             kMaxQuality, kDefaultQuality);
    call.save = GetProfileInt(section::kCall, callvalue::kSave, 0);
    call.reLink = GetProfileInt(section::kCall, callvalue::kReLink, 1);
    return call;
}

void Settings::SaveCall(const CallSettings& call) {
    WriteProfileInt(section::kCall, callvalue::kOption, call.option);
    WriteProfileString(section::kCall, callvalue::kUser, call.user);
    WriteProfileString(section::kCall, callvalue::kPassWord, call.password);
    WriteProfileInt(section::kCall, callvalue::kDial, static_cast<std::int32_t>(call.dial));
    WriteProfileInt(section::kCall, callvalue::kFormatSize, call.formatSize);
    WriteProfileInt(section::kCall, callvalue::kQuality, call.quality);
    WriteProfileInt(section::kCall, callvalue::kSave, call.save);
    WriteProfileString(section::kCall, callvalue::kIdentify, call.identify);
    WriteProfileInt(section::kCall, callvalue::kReLink, call.reLink);
}

NetSettings Settings::LoadNet() const {
    NetSettings net;
    net.sitePort = PortOr(GetProfileInt(section::kNet, netvalue::kSitePort, kDefaultSitePort),
                          kDefaultSitePort);
    net.identifyPort =
        PortOr(GetProfileInt(section::kNet, netvalue::kIdentifyPort, kDefaultIdentifyPort),
               kDefaultIdentifyPort);
    net.listenPort = PortOr(GetProfileInt(section::kNet, netvalue::kListenPort, kDefaultListenPort),
                            kDefaultListenPort);
    net.identifyPrimary = CutToBytes(
        GetProfileString(section::kNet, netvalue::kIdentifyPrimary, kDefaultIdentifyPrimary),
        kServerAddressMaxBytes);
    net.identifyFallback = CutToBytes(
        GetProfileString(section::kNet, netvalue::kIdentifyFallback, kDefaultIdentifyFallback),
        kServerAddressMaxBytes);
    net.callBackFrom = GetProfileString(section::kNet, netvalue::kCallBackFrom, "");
    if (net.identifyPrimary.empty()) {
        net.identifyPrimary = kDefaultIdentifyPrimary;
    }
    if (net.identifyFallback.empty()) {
        net.identifyFallback = kDefaultIdentifyFallback;
    }
    net.codePage = GetProfileString(section::kNet, netvalue::kCodePage, kDefaultCodePage);
    if (net.codePage.empty()) {
        net.codePage = kDefaultCodePage;
    }
    return net;
}

}  // namespace orvane

namespace orvane {

OpenedSettings OpenSettings(const std::string& path) {
    auto opened = KeyStore::Open(path);
    if (opened.store) {
        return {Settings(std::move(*opened.store)), OpenProblem::None, {}};
    }
    qCWarning(lcStore) << "settings store" << path.c_str() << "unusable:" << opened.detail.c_str()
                       << "- using defaults for this run";
    return {Settings(KeyStore::OpenInMemory()), opened.problem, std::move(opened.detail)};
}

}  // namespace orvane
