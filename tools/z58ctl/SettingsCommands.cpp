// z58ctl commands around the settings safety net: the backups, the change list
// between two settings (or what a write would change) and the printable settings sheet.
#include "BackupStore.h"
#include "Cli.h"
#include "Cp1251.h"
#include "SettingsChoice.h"
#include "FileReplace.h"
#include "InfoJobs.h"
#include "OwnerValues.h"
#include "SettingsDiff.h"
#include "SettingsFile.h"
#include "SettingsSheet.h"
#include "TerminalHost.h"

#include <cstdio>
#include <ctime>

namespace cli {

// diff's own codes, as diff(1) has them.
constexpr int kSame = 0, kDifferent = 1, kTrouble = 2;

namespace {

// Keeps a quick job's answer off stdout: the serial number diff reads is not its output.
class QuietHost : public TerminalHost {
public:
    using TerminalHost::TerminalHost;
    void reading(const jobs::Reading&) override {}
};

} // namespace

int backupsCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl backups"))
        return kUsage;
    for (const BackupEntry& e : listBackups())
        std::fputs((e.time + "\t" + std::to_string(e.serial) + "\t" + e.path + "\n").c_str(), stdout);
    return kOk;
}

int diffCommand(const Args& a) {
    if (a.positional.empty() || a.positional.size() > 2) {
        err("usage: z58ctl diff FILE [FILE2] [--keep KEY,...] [--keep-owner|--write-owner]");
        return kTrouble;
    }
    if (a.keepOwner && a.writeOwner) {
        err("--keep-owner and --write-owner say the opposite; give one of them");
        return kTrouble;
    }
    if (a.writeOwner && a.positional.size() == 2) {
        err("--write-owner is about writing FILE to the controller: give FILE alone");
        return kTrouble;
    }
    auto list = loadModel();
    if (!list)
        return kTrouble;
    std::vector<std::string> keep;
    if (!keptKeys(a, *list, keep))
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
        TerminalHost host(a);
        auto read = std::make_shared<jobs::ReadSettingsJob>(host);
        if (runJob(a, host, read) != kOk)
            return kTrouble;
        before = read->text();
        // The owner values stay as write-settings keeps them: unless FILE is
        // this controller's own backup (the serial in its name) or --write-owner.
        if (!a.writeOwner) {
            bool own = false;
            if (const auto fileSerial = serialOfBackupName(a.positional[0])) {
                QuietHost quiet(a);
                auto serial = std::make_shared<jobs::SerialJob>(quiet);
                if (runJob(a, quiet, serial) != kOk)
                    return kTrouble;
                own = serial->serial() == *fileSerial;
            }
            if (!own)
                keep.insert(keep.end(), ownerKeys().begin(), ownerKeys().end());
        }
    }
    // The same rows write-settings would write or keep.
    const auto rows = chooseChanges(*list, before, after, keep);
    std::vector<SettingChange> written, kept;
    for (const ChangeChoice& row : rows)
        (row.write ? written : kept).push_back(row.change);
    out(changesText(*list, written));
    if (!kept.empty()) {
        std::string lines;
        for (const SettingChange& c : kept)
            lines += c.group + " / " + c.name + (c.name != c.key ? " (" + c.key + ")" : std::string()) + ": " +
                     cp1251::fromUtf8(kKeptNote) + "\n";
        out(lines);
    }
    return written.empty() ? kSame : kDifferent;
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
               // A backup's name tells whose settings these are.
               const auto serial = serialOfBackupName(a.positional[0]);
               const std::string header = serial ? "Серийный номер " + std::to_string(*serial) + ", " + date : date;
               replaceFileContent(a.positional[1],
                                  settingsSheetHtml(*list, "Файл " + a.positional[0] + ", " + date, header));
           })
               ? kOk
               : kFailed;
}

} // namespace cli
