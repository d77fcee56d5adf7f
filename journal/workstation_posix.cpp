#include "Workstation.h"

#include <climits>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace journal {

namespace {
constexpr std::size_t kHostNameMax = 256;
constexpr std::size_t kPasswdBuffer = 16384;
} // namespace

std::string pcName() {
    char name[kHostNameMax + 1] = {};
    if (::gethostname(name, kHostNameMax) != 0)
        return {};
    return name;
}

std::string osUserName() {
    const uid_t uid = ::geteuid();
    passwd pw{};
    passwd* found = nullptr;
    std::vector<char> buffer(kPasswdBuffer);
    if (::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
        return found->pw_name;
    return std::to_string(uid);
}

} // namespace journal
