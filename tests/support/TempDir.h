#pragma once
// A temporary folder removed with everything in it when the object goes.
#include <cstdlib>
#include <filesystem>
#include <string>

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::string templ = (std::filesystem::temp_directory_path() / "z58test.XXXXXX").string();
        path = mkdtemp(templ.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path, ec);
    }
    std::string str() const { return path.string(); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

// Sets an environment variable for the scope, restoring the old value after.
struct ScopedEnv {
    std::string name, old;
    bool had;
    ScopedEnv(const char* n, const std::string& value) : name(n) {
        const char* o = std::getenv(n);
        had = o != nullptr;
        if (had)
            old = o;
        setenv(n, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had)
            setenv(name.c_str(), old.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};
