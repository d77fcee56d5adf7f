// COMn names for real serial devices on POSIX, kept in the port alias folder.
// The folder's ".assigned" file remembers which identity owns which number, so
// a number is never given to another device while it is remembered; an entry
// that file does not name was made by hand (or by the emulator) and is left as
// it is.
#include "PortList.h"
#include "PortPath.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kFirstName = 2;
constexpr int kLastName = 255;
constexpr const char* kRecordFile = ".assigned";

int comNumber(const std::string& name) {
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0)
        return 0;
    int n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 1000)
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

// name -> identity
std::map<std::string, std::string> readRecord(const fs::path& file) {
    std::map<std::string, std::string> record;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || comNumber(line.substr(0, tab)) == 0)
            continue;
        record[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return record;
}

bool writeRecord(const fs::path& file, const std::map<std::string, std::string>& record) {
    fs::path temp = file;
    temp += ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const auto& [name, identity] : record)
            out << name << '\t' << identity << '\n';
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    fs::rename(temp, file, ec);
    return !ec;
}

fs::path canonicalOrEmpty(const fs::path& p) {
    std::error_code ec;
    fs::path c = fs::canonical(p, ec);
    return ec ? fs::path() : c;
}

// Two programs starting together must not both take COM2 for different devices.
struct FolderLock {
    int fd;
    explicit FolderLock(const fs::path& dir) : fd(::open((dir / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd >= 0)
            ::flock(fd, LOCK_EX);
    }
    ~FolderLock() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

std::vector<PresentPort> refreshPortNames() {
    std::vector<PresentPort> ports = listPresentPorts();
    const fs::path dir = portAliasDir();
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec))
        return ports;
    FolderLock lock(dir);
    auto record = readRecord(dir / kRecordFile);
    const auto before = record;

    // What is in the folder now. A remembered name whose entry is no longer our
    // link to a device node was taken over by hand: it is the user's from now on.
    std::set<std::string> entries;
    std::map<fs::path, std::string> handMadeTargets;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (comNumber(name) == 0)
            continue;
        entries.insert(name);
        const auto mine = record.find(name);
        std::error_code lec;
        bool ours = mine != record.end() && entry.is_symlink(lec);
        if (ours) {
            const fs::path target = fs::read_symlink(entry.path(), lec);
            ours = !lec && std::any_of(ports.begin(), ports.end(), [&](const PresentPort& p) { return p.device == target; });
            ours = ours || (!lec && !fs::exists(target, lec)); // our link to a device that went away
        }
        if (!ours) {
            if (mine != record.end())
                record.erase(mine);
            if (fs::path t = canonicalOrEmpty(entry.path()); !t.empty())
                handMadeTargets.emplace(t, name);
        }
    }

    std::set<std::string> present;
    for (PresentPort& p : ports) {
        if (const auto hand = handMadeTargets.find(canonicalOrEmpty(p.device)); hand != handMadeTargets.end()) {
            p.name = hand->second; // the user already named this device
            continue;
        }
        auto owned = std::find_if(record.begin(), record.end(), [&](const auto& r) { return r.second == p.identity; });
        if (owned == record.end()) {
            for (int n = kFirstName; n <= kLastName; ++n) {
                const std::string name = "COM" + std::to_string(n);
                if (!record.count(name) && !entries.count(name)) {
                    owned = record.emplace(name, p.identity).first;
                    break;
                }
            }
            if (owned == record.end())
                continue; // every number taken
        }
        p.name = owned->first;
        present.insert(p.name);
        const fs::path link = dir / p.name;
        std::error_code lec;
        if (fs::read_symlink(link, lec) != fs::path(p.device)) {
            fs::remove(link, lec);
            fs::create_symlink(p.device, link, lec);
        }
    }
    // Absent devices lose their link (the search then skips the number without
    // an open) but keep their number for when they come back.
    for (const auto& [name, identity] : record) {
        if (present.count(name))
            continue;
        std::error_code lec;
        if (fs::is_symlink(dir / name, lec))
            fs::remove(dir / name, lec);
    }
    if (record != before)
        writeRecord(dir / kRecordFile, record);
    return ports;
}
