#include "Files.h"

#include <algorithm>

#include "SystemError.h"

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include "Utf16.h"
#else
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tavo::platform {

namespace {

long WriteWith(const FileWriter& write, int fd, std::string_view bytes) {
    if (write)
        return write(fd, bytes.data(), bytes.size());
#ifdef _WIN32
    return _write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
#else
    return static_cast<long>(::write(fd, bytes.data(), bytes.size()));
#endif
}

bool WroteAll(const FileWriter& write, int fd, std::string_view bytes) {
    return WriteWith(write, fd, bytes) == static_cast<long>(bytes.size());
}

} // namespace

#ifdef _WIN32

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FileKind KindOfHandle(HANDLE file) {
    switch (GetFileType(file)) {
    case FILE_TYPE_CHAR:
        return FileKind::CharacterDevice;
    case FILE_TYPE_PIPE:
        return FileKind::Fifo;
    case FILE_TYPE_DISK: {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(file, &info))
            return FileKind::Other;
        return info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::Directory
                                                                : FileKind::Regular;
    }
    default:
        return FileKind::Other;
    }
}

// Opens what `path` leads to, a directory too, for `access`.
HANDLE OpenAny(const std::wstring& path, DWORD access) {
    return CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// A C runtime descriptor that owns `file`, for the writer.
int DescriptorOf(HANDLE file) {
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_BINARY);
    if (fd < 0)
        CloseHandle(file);
    return fd;
}

void RewriteInPlace(const std::wstring& path, std::string_view bytes, const FileWriter& write) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE || KindOfHandle(file) != FileKind::Regular) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return;
    }
    const int fd = DescriptorOf(file);
    if (fd < 0)
        return;
    if (WroteAll(write, fd, bytes) && _chsize(fd, static_cast<long>(bytes.size())) == 0)
        _commit(fd);
    _close(fd);
}

} // namespace

FileKind KindOf(const std::string& path) {
    const HANDLE file = OpenAny(Widen(path), FILE_READ_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE)
        return FileKind::Missing;
    const FileKind kind = KindOfHandle(file);
    CloseHandle(file);
    return kind;
}

bool MayWrite(const std::string& path, bool andRead) {
    return _waccess(Widen(path).c_str(), andRead ? 6 : 2) == 0;
}

FileStart ReadFileStart(const std::string& path, std::size_t most) {
    FileStart start;
    // Opening a named pipe or a device does not block; only reading it would.
    const HANDLE file = OpenAny(Widen(path), GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) {
        start.error = ErrorText(LastError());
        return start;
    }
    start.kind = KindOfHandle(file);
    if (start.kind == FileKind::Regular) {
        start.opened = true;
        start.bytes.assign(most, '\0');
        std::size_t got = 0;
        while (got < most) {
            DWORD n = 0;
            const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(most - got, 1 << 20));
            if (!ReadFile(file, start.bytes.data() + got, ask, &n, nullptr)) {
                start.error = ErrorText(LastError());
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        start.bytes.resize(got);
    }
    CloseHandle(file);
    return start;
}

FileKind ReplaceFileContents(const std::string& path, std::string_view bytes,
                             const FileWriter& write) {
    std::wstring target = Widen(path);
    // The end of a chain of links, as the system names it.
    const HANDLE existing = OpenAny(target, FILE_READ_ATTRIBUTES);
    const bool exists = existing != INVALID_HANDLE_VALUE;
    DWORD links = 1;
    if (exists) {
        const FileKind kind = KindOfHandle(existing);
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileInformationByHandle(existing, &info))
            links = info.nNumberOfLinks;
        std::wstring final(MAX_PATH, L'\0');
        DWORD length =
            GetFinalPathNameByHandleW(existing, final.data(), static_cast<DWORD>(final.size()), 0);
        if (length >= final.size()) {
            final.resize(length);
            length = GetFinalPathNameByHandleW(existing, final.data(),
                                               static_cast<DWORD>(final.size()), 0);
        }
        CloseHandle(existing);
        if (kind != FileKind::Regular)
            return kind;
        if (length > 0 && length < final.size())
            target = final.substr(0, length);
    }
    if (links > 1) {
        RewriteInPlace(target, bytes, write);
        return FileKind::Regular;
    }
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(GetTickCount() + attempt) + L".tmp";
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return FileKind::Regular;
    }
    const int fd = file == INVALID_HANDLE_VALUE ? -1 : DescriptorOf(file);
    if (fd < 0) {
        DeleteFileW(temporary.c_str());
        return FileKind::Regular;
    }
    bool ok = WroteAll(write, fd, bytes) && _commit(fd) == 0;
    ok = _close(fd) == 0 && ok;
    // ReplaceFileW keeps the old file's security and attributes on the new one.
    ok = ok && (exists ? ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                       : MoveFileExW(temporary.c_str(), target.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    if (!ok)
        DeleteFileW(temporary.c_str());
    return FileKind::Regular;
}

#else

namespace {

FileKind KindOfMode(mode_t mode) {
    return S_ISREG(mode) ? FileKind::Regular
           : S_ISDIR(mode) ? FileKind::Directory
           : S_ISFIFO(mode) ? FileKind::Fifo
           : S_ISCHR(mode) ? FileKind::CharacterDevice
           : S_ISBLK(mode) ? FileKind::BlockDevice
           : S_ISSOCK(mode) ? FileKind::Socket
                            : FileKind::Other;
}

// The end of a chain of symbolic links, resolved against each link's own directory, so
// that a rename replaces the target and the link stays.
std::string ResolvedLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::string target(PATH_MAX, '\0');
        const auto n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
            return path;
        target.resize(static_cast<std::size_t>(n));
        const auto slash = path.rfind('/');
        path = target.front() == '/' || slash == std::string::npos
                   ? target
                   : path.substr(0, slash + 1) + target;
    }
    return path;
}

// A failure part-way may leave a partial file.
FileKind RewriteInPlace(const std::string& path, std::string_view bytes, const FileWriter& write) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return FileKind::Regular;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return KindOfMode(info.st_mode);
    }
    if (WroteAll(write, fd, bytes) && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0)
        ::fsync(fd);
    ::close(fd);
    return FileKind::Regular;
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

FileKind KindOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? KindOfMode(info.st_mode) : FileKind::Missing;
}

bool MayWrite(const std::string& path, bool andRead) {
    return ::access(path.c_str(), andRead ? R_OK | W_OK : W_OK) == 0;
}

FileStart ReadFileStart(const std::string& path, std::size_t most) {
    FileStart start;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        start.error = ErrorText(errno);
        return start;
    }
    start.kind = KindOfMode(info.st_mode);
    if (start.kind != FileKind::Regular)
        return start;
    // Not blocking, in case a FIFO took the file's place since the check.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        start.error = ErrorText(errno);
        return start;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (S_ISREG(info.st_mode))
            start.error = ErrorText(errno);
        start.kind = KindOfMode(info.st_mode);
        ::close(fd);
        return start;
    }
    start.opened = true;
    start.bytes.assign(most, '\0');
    std::size_t got = 0;
    while (got < most) {
        const auto n = ::read(fd, start.bytes.data() + got, most - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            start.error = ErrorText(errno);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    start.bytes.resize(got);
    return start;
}

FileKind ReplaceFileContents(const std::string& path, std::string_view bytes,
                             const FileWriter& write) {
    const auto target = ResolvedLinks(path);
    struct stat info {};
    const bool exists = ::stat(target.c_str(), &info) == 0;
    if (exists && info.st_nlink > 1)
        return RewriteInPlace(target, bytes, write);
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return FileKind::Regular;
    bool ok = ::fchmod(fd, exists ? info.st_mode & 07777 : NewFileMode()) == 0 &&
              WroteAll(write, fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), target.c_str()) != 0)
        ::unlink(temporary.c_str());
    return FileKind::Regular;
}

#endif

} // namespace tavo::platform
