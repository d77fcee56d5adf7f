// Win32: CreateFileW(CREATE_NEW) a uniquely named temporary, FlushFileBuffers,
// MoveFileExW with write-through over the target.
#include "FileReplace.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <windows.h>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw std::runtime_error("Не удалось записать файл \"" + path + "\": " + reason);
}

std::string reason(DWORD err) {
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = text ? fs::path(text).u8string() : "ошибка " + std::to_string(err);
    if (text)
        ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out;
}

struct Temporary {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring name;
    bool renamed = false;
    ~Temporary() {
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        if (!name.empty() && !renamed)
            ::DeleteFileW(name.c_str());
    }
};

} // namespace

void replaceFileContent(const std::string& path, const std::string& bytes, FileAccess access) {
    replaceFileStreamed(path, [&](const ContentWriter& write) { write(bytes.data(), bytes.size()); }, access);
}

void replaceFileStreamed(const std::string& path, const std::function<void(const ContentWriter& write)>& produce,
                         FileAccess access) {
    (void)access; // the folder's access list decides who reads it
    std::error_code ec;
    fs::path target = fs::u8path(path);
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
        const fs::path next = fs::read_symlink(target, ec);
        if (!ec)
            target = next.is_absolute() ? next : target.parent_path() / next;
    }
    const DWORD attributes = ::GetFileAttributesW(target.wstring().c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        fail(path, "это папка");
    if (exists && (attributes & FILE_ATTRIBUTE_DEVICE))
        fail(path, "это не обычный файл, записывать в него нельзя");

    static std::atomic<unsigned> counter{0};
    Temporary temp;
    for (int attempt = 0;; ++attempt) {
        temp.name = target.wstring() + L".z58tmp-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                    std::to_wstring(counter++);
        temp.handle = ::CreateFileW(temp.name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    exists ? (attributes & ~FILE_ATTRIBUTE_READONLY) : FILE_ATTRIBUTE_NORMAL, nullptr);
        if (temp.handle != INVALID_HANDLE_VALUE)
            break;
        const DWORD err = ::GetLastError();
        temp.name.clear();
        if ((err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS) && attempt < 100)
            continue;
        if (err == ERROR_ACCESS_DENIED) {
            const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
            throw std::runtime_error("Не удалось записать файл \"" + path + "\": папка \"" + folder.u8string() +
                                     "\" закрыта для записи, а файл заменяется только через новый файл рядом с ним. "
                                     "Сохраните в другую папку.");
        }
        fail(path, reason(err));
    }
    produce([&](const char* data, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 20));
            if (!::WriteFile(temp.handle, data + done, chunk, &written, nullptr) || written == 0)
                fail(path, reason(::GetLastError()));
            done += written;
        }
    });
    if (!::FlushFileBuffers(temp.handle))
        fail(path, reason(::GetLastError()));
    ::CloseHandle(temp.handle);
    temp.handle = INVALID_HANDLE_VALUE;
    if (!::MoveFileExW(temp.name.c_str(), target.wstring().c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(path, reason(::GetLastError()));
    temp.renamed = true;
}
