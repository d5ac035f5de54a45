#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tavo::platform {

// What a name leads to. A FIFO or a device under a file's name would hold the program up
// or be clobbered, so the files below read and replace regular files only.
enum class FileKind {
    Missing,
    Regular,
    Directory,
    Fifo,
    CharacterDevice,
    BlockDevice,
    Socket,
    Other
};

// What is at `path`, links followed; Missing when nothing can be looked at there.
FileKind KindOf(const std::string& path);
// Whether this user may write the file at `path`, and read it too with `andRead`.
bool MayWrite(const std::string& path, bool andRead = false);

struct FileStart {
    FileKind kind = FileKind::Missing; // as the file was found when opened
    bool opened = false;               // opened as a regular file: `bytes` holds what was read
    std::string bytes;
    std::string error; // the system's words for what failed; empty when nothing did
};
// Reads at most `most` bytes from the start of the regular file at `path`, never
// blocking on what took its place since it was looked at. A read that fails part-way
// keeps what came before it.
FileStart ReadFileStart(const std::string& path, std::size_t most);

// Writes `size` bytes to the open file `fd` (a C runtime descriptor on Windows): the
// number written, or -1.
using FileWriter = std::function<long(int fd, const void* data, std::size_t size)>;

// Puts `bytes` in the place of the file at `path` through a temporary file beside it,
// flushed to disk and renamed over it, so that a failure before the rename leaves the old
// file as it was. A chain of symbolic links stays: the file at its end is replaced, with
// its permissions. A file with other hard links is rewritten in place instead, so that
// every name of it sees the new bytes. `write` writes them (all at once, by default).
// Regular, or what was found in a regular file's place (then nothing was written);
// other failures are not said.
FileKind ReplaceFileContents(const std::string& path, std::string_view bytes,
                             const FileWriter& write = {});

} // namespace tavo::platform
