#include "ServerSetting.h"

#include "DataFolder.h"
#include "FileReplace.h"
#include "ServerJournal.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace journal {

namespace {

std::string settingPath() { return (std::filesystem::u8path(dataFolder()) / "journal-server").u8string(); }

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

} // namespace

std::string keptJournalServer() {
    std::ifstream in(std::filesystem::u8path(settingPath()), std::ios::binary);
    if (!in)
        return {};
    return trimmed(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

std::string journalServer() {
    if (const char* env = std::getenv(kServerEnvironment); env && *env)
        return env;
    return keptJournalServer();
}

void keepJournalServer(const std::string& conninfo) {
    const std::string path = settingPath();
    if (conninfo.empty()) {
        std::error_code ec;
        std::filesystem::remove(std::filesystem::u8path(path), ec);
        if (ec)
            throw std::runtime_error("«" + path + "» не удаляется: " + ec.message());
        return;
    }
    if (const std::string bad = ServerJournal::parseProblem(conninfo); !bad.empty())
        throw std::runtime_error("Строка подключения неверна: " + bad);
    if (ServerJournal::holdsPassword(conninfo))
        throw std::runtime_error("Пароль в настройках программы не хранится: уберите password= из строки и "
                                 "запишите его в файл паролей libpq (~/.pgpass, PGPASSFILE или passfile=).");
    openDataFolder();
    replaceFileContent(path, conninfo + "\n", FileAccess::OwnerOnly);
}

} // namespace journal
