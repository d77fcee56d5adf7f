#include "JournalTesting.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

namespace journal_testing {

namespace {
constexpr uid_t kNobody = 65534;
}

std::string asUnprivileged(const std::filesystem::path& folder, const std::function<std::string()>& check) {
    if (::geteuid() != 0)
        return check();
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec))
        (void)!::lchown(entry.path().c_str(), kNobody, kNobody);
    (void)!::lchown(folder.c_str(), kNobody, kNobody);
    int fds[2];
    if (::pipe(fds) != 0)
        return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            _exit(3);
        const std::string text = check();
        (void)!::write(fds[1], text.data(), text.size());
        _exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "could not drop privileges";
    return text;
}

} // namespace journal_testing
#endif
