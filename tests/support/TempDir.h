#pragma once
// A temporary folder removed with everything in it when the object goes, and an
// environment variable set for a scope.
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#ifdef _WIN32
#include <windows.h>
#endif

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::random_device rd;
        for (;;) {
            path = std::filesystem::temp_directory_path() / ("z58test." + std::to_string(rd()));
            if (std::filesystem::create_directory(path))
                break;
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path, ec);
    }
    std::string str() const { return path.string(); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

inline void setEnv(const std::string& name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline void unsetEnv(const std::string& name) {
#ifdef _WIN32
    _putenv_s(name.c_str(), "");
#else
    unsetenv(name.c_str());
#endif
}

struct ScopedEnv {
    std::string name, old;
    bool had;
    ScopedEnv(const char* n, const std::string& value) : name(n) {
        const char* o = std::getenv(n);
        had = o != nullptr;
        if (had)
            old = o;
        setEnv(name, value);
    }
    ~ScopedEnv() {
        if (had)
            setEnv(name, old);
        else
            unsetEnv(name);
    }
};

// A private port alias folder, configuration folder and device tree for one test, so tests
// never touch the user's real ones. On Windows the remembered port is the
// registry value, in the Windows stage's private Wine prefix: it starts absent.
struct IsolatedSetup {
    TempDir dir;
    ScopedEnv ports{"Z58_PORT_DIR", dir / "ports"};
    ScopedEnv config{"XDG_CONFIG_HOME", dir / "config"};
    // Settings backups go to a private folder too.
    ScopedEnv data{"XDG_DATA_HOME", dir / "data"};
    ScopedEnv localAppData{"LOCALAPPDATA", dir / "local"};
    // No real serial device of the machine running the tests joins their ports.
    ScopedEnv sysfs{"Z58_SYSFS_ROOT", dir / "sys"};
    ScopedEnv dev{"Z58_DEV_ROOT", dir / "dev"};
#ifdef _WIN32
    IsolatedSetup() {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            ::RegDeleteKeyValueA(root, "SOFTWARE\\KM\\QV_USB_PORT", "Port");
    }
#endif
};
