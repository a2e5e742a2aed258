#include "settings/settings.h"

#include "platform/ports.h"
#include "settings/ini_file.h"

#include <exception>

namespace settings {

namespace {

const char* const StartContainer = "[ROOT]";
const char* const StartUserDeny = "G_User_Internet_Deny.PROJEKTE.UNTERRICHT";
const char* const StartWSDeny = "G_WS_Internet_Deny.PROJEKTE.UNTERRICHT";
const char* const Caption = "INI-Datei-Fehler";

void showNotOurs(const std::string& path) {
    platform::showMessage(platform::joinLines({"Die Datei", path, "existiert nicht oder",
                                               "scheint keine Tarvel.INI zu sein !",
                                               "Tarvel benutzt daher Defaultwerte."}),
                          Caption);
}

void showTooNew(const std::string& path) {
    platform::showMessage(platform::joinLines({"Die Datei", path, "hat eine zu hohe Versionsnummer.",
                                               "Sie gehört zu einer neueren Tarvel-Version !",
                                               "Tarvel benutzt daher Defaultwerte."}),
                          Caption);
}

// A settings file of ours is a few KB; a huge one would only cost time and memory.
void showTooLarge(const std::string& path) {
    platform::showMessage(platform::joinLines({"Die Datei", path, "ist größer als 1 MiB und",
                                               "scheint keine Tarvel.INI zu sein !",
                                               "Tarvel benutzt daher Defaultwerte."}),
                          Caption);
}

// A NUL byte would cut its line short; the file is refused rather than read in part.
void showNulByte(const std::string& path, size_t line) {
    platform::showMessage(platform::joinLines({"Die Datei", path,
                                               "enthält in Zeile " + std::to_string(line) + " ein NUL-Zeichen",
                                               "und ist daher beschädigt !", "Tarvel benutzt daher Defaultwerte."}),
                          Caption);
}

// Show lists hold name beginnings: every item ends in exactly one "*".
void markAsBeginnings(NameList& list) {
    for (std::string& item : list)
        if (item.empty() || item.back() != '*') item += '*';
}

}  // namespace

Values startValues() {
    Values v;
    v.BasisUserContainer = v.lastReadBaseUserContainer = StartContainer;
    v.BasisWorkstationContainer = v.lastReadBasisWorkstationContainer = StartContainer;
    v.GroupInternetUserDeny = v.lastReadGroupInternetUserDeny = StartUserDeny;
    v.GroupInternetWSDeny = v.lastReadGroupInternetWSDeny = StartWSDeny;
    return v;
}

Values& values() {
    static Values instance = startValues();
    return instance;
}

void resetToStartValues() { values() = startValues(); }

void SplitList(const std::string& text, char separator, NameList& list) {
    list.clear();
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t at = rest.find(separator);
        std::string_view item = at == std::string_view::npos ? rest : rest.substr(0, at);
        rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);
        item = trimBlanksAndControls(item);
        if (!item.empty()) list.emplace_back(item);
    }
}

void LoadSettings(const std::string& path) {
    try {
        IniFile ini;
        std::string bytes;
        // An unreadable file reads as an empty one and fails the identity test below.
        switch (readSettingsFile(path, bytes)) {
        case FileRead::Read: ini = IniFile::fromBytes(bytes); break;
        case FileRead::Unreadable: break;
        case FileRead::TooLarge: showTooLarge(path); return;
        }
        bytes.clear();
        bytes.shrink_to_fit();
        if (ini.nulLine()) {
            showNulByte(path, ini.nulLine());
            return;
        }

        if (text::toLowerAscii(ReadSettingText(ini, "TYP", "Typ", "x")) != "tarvel") {
            showNotOurs(path);
            return;
        }
        if (ReadSettingInteger(ini, "TYP", "Ver", "100") > 100) {
            showTooNew(path);
            return;
        }

        // Built apart and taken over at the end, so nothing half-read ever shows.
        Values v = values();
        v.lastReadBaseUserContainer = ReadSettingText(ini, "DEFAULT", "BasisUserContainer", v.lastReadBaseUserContainer);
        v.lastReadBasisWorkstationContainer =
            ReadSettingText(ini, "DEFAULT", "BasisWorkstationContainer", v.lastReadBasisWorkstationContainer);
        v.lastReadGroupInternetUserDeny =
            ReadSettingText(ini, "DEFAULT", "GroupInternetUserDeny", v.lastReadGroupInternetUserDeny);
        v.lastReadGroupInternetWSDeny = ReadSettingText(ini, "DEFAULT", "GroupInternetWSDeny", v.lastReadGroupInternetWSDeny);

        auto withoutDot = [](const std::string& s) { return !s.empty() && s.front() == '.' ? s.substr(1) : s; };
        auto withDot = [](const std::string& s) { return !s.empty() && s.front() == '.' ? s : "." + s; };
        v.BasisUserContainer = withoutDot(v.lastReadBaseUserContainer);
        v.BasisWorkstationContainer = withoutDot(v.lastReadBasisWorkstationContainer);
        v.GroupInternetUserDeny = withDot(v.lastReadGroupInternetUserDeny);
        v.GroupInternetWSDeny = withDot(v.lastReadGroupInternetWSDeny);

        v.BasisUserContainerGoUpALevel = ReadSettingBool(ini, "SWITCH", "BasisUserContainerGoUpALevel", "0");
        v.BasisGroupContainerGoUpALevel = ReadSettingBool(ini, "SWITCH", "BasisGroupContainerGoUpALevel", "0");
        v.ShowFirst = ReadSettingInteger(ini, "SHOW", "ShowFirst", "1");

        SplitList(ReadSettingText(ini, "SHOW", "ShowContainer", ""), ',', v.ShowContainerList);
        markAsBeginnings(v.ShowContainerList);
        SplitList(ReadSettingText(ini, "SHOW", "NoShowContainer", ""), ',', v.NoShowContainerList);
        SplitList(ReadSettingText(ini, "SHOW", "ShowLeaf", ""), ',', v.ShowLeafList);
        markAsBeginnings(v.ShowLeafList);
        SplitList(ReadSettingText(ini, "SHOW", "NoShowLeaf", ""), ',', v.NoShowLeafList);

        values() = std::move(v);
    } catch (const std::exception&) {
        // Out of memory on a monstrous file: refused like any file that is not ours.
        showNotOurs(path);
    }
}

}  // namespace settings
