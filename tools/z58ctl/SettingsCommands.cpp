// z58ctl commands around the settings safety net: the backups, the change list
// between two settings and the printable settings sheet.
#include "BackupStore.h"
#include "Cli.h"
#include "Cp1251.h"
#include "FileReplace.h"
#include "SettingsDiff.h"
#include "SettingsFile.h"
#include "SettingsSheet.h"

#include <cstdio>
#include <ctime>

namespace cli {

// diff's own codes, as diff(1) has them.
constexpr int kSame = 0, kDifferent = 1, kTrouble = 2;

int backupsCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl backups"))
        return kUsage;
    for (const BackupEntry& e : listBackups())
        std::fputs((e.time + "\t" + std::to_string(e.serial) + "\t" + e.path + "\n").c_str(), stdout);
    return kOk;
}

int diffCommand(const Args& a) {
    if (a.positional.empty() || a.positional.size() > 2) {
        err("usage: z58ctl diff FILE [FILE2]");
        return kTrouble;
    }
    auto list = loadModel();
    if (!list)
        return kTrouble;
    std::string before, after;
    if (a.positional.size() == 2) {
        if (!fileOperation([&] {
                before = readSettingsFile(a.positional[0]);
                after = readSettingsFile(a.positional[1]);
            }))
            return kTrouble;
    } else {
        // What write-settings would send against what the controller holds now.
        if (!fileOperation([&] { list->LoadSettingsText(readSettingsFile(a.positional[0])); }))
            return kTrouble;
        after = list->SettingsText();
        auto device = openDevice(a);
        if (const int code = device->ReadSettings(before); code < 0) {
            deviceFailure("Загрузка настроек", code);
            return kTrouble;
        }
    }
    const auto changes = diffSettings(*list, before, after);
    out(changesText(*list, changes));
    return changes.empty() ? kSame : kDifferent;
}

int sheetCommand(const Args& a) {
    if (!positionalCount(a, 2, "z58ctl sheet FILE OUT.html"))
        return kUsage;
    auto list = loadModel();
    if (!list)
        return kFailed;
    return fileOperation([&] {
               list->LoadSettingsText(readSettingsFile(a.positional[0]));
               char date[32];
               const std::time_t now = std::time(nullptr);
               std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", std::localtime(&now));
               replaceFileContent(a.positional[1],
                                  settingsSheetHtml(*list, "Файл " + a.positional[0] + ", " + date));
           })
               ? kOk
               : kFailed;
}

} // namespace cli
