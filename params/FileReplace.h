#pragma once
// Replaces a file's whole content so that a failure at any point leaves the old
// content intact: a new temporary file beside the target is written, flushed to
// disk, given the old file's mode, and renamed over the target (then the folder
// is flushed too). A link is followed to the file it names; anything that is not
// a regular file is refused. One backend per OS (file_replace_posix.cpp,
// file_replace_win32.cpp).
#include <cstddef>
#include <functional>
#include <string>

// Who may read the file once written: as before (a new file as the umask
// allows), or its owner alone (a new file 0600, an old one loses group and
// others' access on POSIX; Windows leaves it to the folder's access list).
enum class FileAccess { AsBefore, OwnerOnly };

// path: UTF-8. Throws std::runtime_error with a message for the user (UTF-8)
// that names the file, or the folder when the folder is what refuses the write.
void replaceFileContent(const std::string& path, const std::string& bytes, FileAccess access = FileAccess::AsBefore);

// Hands one piece of a file's content over to be written.
using ContentWriter = std::function<void(const char* data, std::size_t size)>;
// The same, the content written piece by piece as produce hands it to the
// writer, so a large file is never held whole. An exception from produce (or
// from a write) leaves the old file as it was and is passed on.
void replaceFileStreamed(const std::string& path, const std::function<void(const ContentWriter& write)>& produce,
                         FileAccess access = FileAccess::AsBefore);
