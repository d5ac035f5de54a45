#include "UserFiles.h"

#include <cstdlib>

#include "SystemError.h"

#ifdef _WIN32
#include <windows.h>

#include <aclapi.h>
#include <shlobj.h>

#include <algorithm>

#include "Utf16.h"
#else
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tavo::platform {

#ifdef _WIN32

// Windows keeps every user's profile, and what is made in it, private to them: the
// checks of owner and permissions that Linux needs have nothing to find here, and are
// left out. What remains is never to follow a link.

namespace {

std::wstring Join(const std::string& directory, const char* name) {
    return Widen(directory) + L'\\' + Widen(name);
}

bool NotFound(long error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// What the last failed open means: nothing there yet, or a failure to explain.
Access OpenFailure(std::string& why) {
    const long error = LastError();
    if (NotFound(error))
        return Access::Missing;
    why = ErrorText(error);
    return Access::OpenFailed;
}

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A regular file's handle; Link or NotOwn for anything else.
Access KindOfOpened(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info))
        return Access::NotOwn;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Access::Link;
    return info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? Access::NotOwn : Access::Ok;
}

bool ReadFrom(HANDLE file, std::size_t most, std::string& text, std::string& why) {
    text.assign(most, '\0');
    std::size_t got = 0;
    while (got < most) {
        DWORD n = 0;
        if (!ReadFile(file, text.data() + got, static_cast<DWORD>(most - got), &n, nullptr)) {
            why = ErrorText(LastError());
            return false;
        }
        if (n == 0)
            break;
        got += n;
    }
    text.resize(got);
    return true;
}

bool WriteTo(HANDLE file, std::string_view text) {
    while (!text.empty()) {
        DWORD n = 0;
        if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) || n == 0)
            return false;
        text.remove_prefix(n);
    }
    return true;
}

std::string KnownFolder(const char* variable, const KNOWNFOLDERID& folder) {
    if (auto value = Environment(variable); !value.empty())
        return value;
    wchar_t* path = nullptr;
    std::string found;
    if (SHGetKnownFolderPath(folder, 0, nullptr, &path) == S_OK)
        found = Narrow(path);
    CoTaskMemFree(path);
    return found;
}

} // namespace

std::string Environment(const char* name) {
    const wchar_t* value = _wgetenv(Widen(name).c_str());
    return value ? Narrow(value) : std::string();
}

void SetEnvironment(const char* name, const std::string& value) {
    _wputenv_s(Widen(name).c_str(), Widen(value).c_str());
}

std::string ConfigHome() {
    return KnownFolder("APPDATA", FOLDERID_RoamingAppData);
}

std::string DataHome() {
    return KnownFolder("LOCALAPPDATA", FOLDERID_LocalAppData);
}

std::string StateDirectory(std::string_view program) {
    const auto local = DataHome();
    return local.empty() ? std::string() : local + kPathSeparator + std::string(program);
}

std::string RuntimeDirectory(std::string_view program) {
    return StateDirectory(program);
}

std::string MakeDirectories(const std::string& path, std::string& why) {
    const std::wstring wide = Widen(path);
    std::wstring failed;
    // A drive or a share at the start cannot be made, and need not be.
    for (std::size_t end = wide.find_first_of(L"\\/", 1);;
         end = wide.find_first_of(L"\\/", end + 1)) {
        const std::wstring part = wide.substr(0, end);
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
            !IsDirectory(part) && failed.empty()) {
            failed = part;
            why = ErrorText(LastError());
        }
        if (end == std::wstring::npos)
            break;
    }
    return IsDirectory(wide) ? std::string() : Narrow(failed.empty() ? wide : failed);
}

bool IsOwnDirectory(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

Access PrivateDirectory::Open(const std::string& path, std::string& why) {
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return OpenFailure(why);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return Access::Link;
    path_ = path;
    return Access::Ok;
}

void PrivateDirectory::Lock() {
    // A directory cannot be locked here: a file beside the others stands for it.
    const HANDLE file = CreateFileW(
        Join(path_, "directory.lock").c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    OVERLAPPED whole{};
    LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    lock_ = reinterpret_cast<std::intptr_t>(file);
}

Access PrivateDirectory::Read(const char* name, std::size_t most, std::string& text,
                              std::string& why) {
    text.clear();
    const HANDLE file = CreateFileW(Join(path_, name).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return OpenFailure(why);
    Access access = KindOfOpened(file);
    if (access == Access::Ok && !ReadFrom(file, most, text, why))
        access = Access::ReadFailed;
    CloseHandle(file);
    return access;
}

std::string PrivateDirectory::Write(const char* name, std::string_view text) {
    const std::wstring path = Join(path_, name);
    const std::wstring temporary = path + L".new-" + std::to_wstring(GetCurrentProcessId());
    DeleteFileW(temporary.c_str()); // left by a run that died
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ErrorText(LastError());
    const bool written = WriteTo(file, text) && FlushFileBuffers(file);
    const long error = LastError();
    CloseHandle(file);
    if (!written || !MoveFileExW(temporary.c_str(), path.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::string failed = ErrorText(written ? LastError() : error);
        DeleteFileW(temporary.c_str());
        return failed;
    }
    return {};
}

PrivateDirectory::~PrivateDirectory() {
    if (lock_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(lock_));
}

LockHandle OpenLockFile(const std::string& path, Access& access, std::string& why) {
    const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = ErrorText(LastError());
        access = Access::OpenFailed;
        return kNoLock;
    }
    access = KindOfOpened(file);
    if (access != Access::Ok) {
        CloseHandle(file);
        return kNoLock;
    }
    return reinterpret_cast<LockHandle>(file);
}

bool TryLock(LockHandle file, std::string& why) {
    OVERLAPPED whole{};
    if (LockFileEx(reinterpret_cast<HANDLE>(file),
                   LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                   &whole))
        return true;
    if (const long error = LastError(); error != ERROR_LOCK_VIOLATION)
        why = ErrorText(error);
    return false;
}

bool ReadLockFile(LockHandle file, std::size_t most, std::string& text, std::string& why) {
    const HANDLE handle = reinterpret_cast<HANDLE>(file);
    if (SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        why = ErrorText(LastError());
        return false;
    }
    return ReadFrom(handle, most, text, why);
}

bool WriteLockFile(LockHandle file, std::string_view text, std::string& why) {
    const HANDLE handle = reinterpret_cast<HANDLE>(file);
    if (SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !SetEndOfFile(handle) || !WriteTo(handle, text)) {
        why = ErrorText(LastError());
        return false;
    }
    return true;
}

void CloseLockFile(LockHandle file) {
    if (file != kNoLock)
        CloseHandle(reinterpret_cast<HANDLE>(file));
}

namespace {

// The SID this process runs as, in `storage`.
PSID CurrentUser(std::string& storage) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    storage.assign(size, '\0');
    const bool got = GetTokenInformation(token, TokenUser, storage.data(), size, &size);
    CloseHandle(token);
    return got ? reinterpret_cast<TOKEN_USER*>(storage.data())->User.Sid : nullptr;
}

bool IsAdministration(PSID sid) {
    return IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

} // namespace

FilePrivacy PrivacyOf(const std::string& path) {
    FilePrivacy privacy;
    std::wstring wide = Widen(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
        const long error = LastError();
        privacy.absent = NotFound(error);
        privacy.why = ErrorText(error);
        return privacy;
    }
    privacy.regular = !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    privacy.size = (std::uintmax_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (const DWORD error = GetNamedSecurityInfoW(
            wide.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &owner, nullptr, &dacl, nullptr, &descriptor);
        error != ERROR_SUCCESS) {
        privacy.why = ErrorText(static_cast<long>(error));
        return privacy;
    }
    std::string storage;
    const PSID user = CurrentUser(storage);
    privacy.found = true;
    privacy.othersOwn = !owner || !((user && EqualSid(owner, user)) || IsAdministration(owner));
    const auto trusted = [&](PSID sid) {
        return (user && EqualSid(sid, user)) || (owner && EqualSid(sid, owner)) ||
               IsAdministration(sid) || IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
    };
    constexpr ACCESS_MASK kWrite =
        FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    constexpr ACCESS_MASK kRead = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
    // No DACL at all lets everyone do everything.
    privacy.othersMayWrite = privacy.othersMayRead = dacl == nullptr;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)) ||
            header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        const auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        if (trusted(const_cast<DWORD*>(&allowed->SidStart)))
            continue;
        privacy.othersMayWrite |= (allowed->Mask & kWrite) != 0;
        privacy.othersMayRead |= (allowed->Mask & kRead) != 0;
    }
    LocalFree(descriptor);
    return privacy;
}

std::string MakePrivateCommand(const std::string& path) {
    return "icacls \"" + path + "\" /inheritance:r /grant:r \"%USERNAME%:F\"";
}

#else

namespace {

std::string Absolute(const char* name) {
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? value : ""; // a relative path is to be ignored
}

std::string NonEmpty(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string Home() {
    return NonEmpty("HOME", ".");
}

bool OwnedPrivately(const struct stat& st) {
    return st.st_uid == ::geteuid() && !(st.st_mode & (S_IWGRP | S_IWOTH));
}

} // namespace

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void SetEnvironment(const char* name, const std::string& value) {
    ::setenv(name, value.c_str(), 1);
}

std::string ConfigHome() {
    return NonEmpty("XDG_CONFIG_HOME", Home() + "/.config");
}

std::string DataHome() {
    return NonEmpty("XDG_DATA_HOME", Home() + "/.local/share");
}

std::string StateDirectory(std::string_view program) {
    if (auto state = Absolute("XDG_STATE_HOME"); !state.empty())
        return state + '/' + std::string(program);
    auto home = Absolute("HOME");
    if (home.empty())
        if (const passwd* user = ::getpwuid(::geteuid());
            user && user->pw_dir && user->pw_dir[0] == '/')
            home = user->pw_dir;
    return home.empty() ? "" : home + "/.local/state/" + std::string(program);
}

std::string RuntimeDirectory(std::string_view program) {
    if (auto runtime = Absolute("XDG_RUNTIME_DIR"); !runtime.empty())
        return runtime + '/' + std::string(program);
    if (const auto session = "/run/user/" + std::to_string(::geteuid()); IsOwnDirectory(session))
        return session + '/' + std::string(program);
    return StateDirectory(program);
}

std::string MakeDirectories(const std::string& path, std::string& why) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            why = ErrorText(errno);
            return part;
        }
        if (slash == std::string::npos)
            break;
    }
    return {};
}

bool IsOwnDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

Access PrivateDirectory::Open(const std::string& path, std::string& why) {
    const int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        if (errno == ENOENT)
            return Access::Missing;
        if (errno == ELOOP || errno == ENOTDIR)
            return Access::Link;
        why = ErrorText(errno);
        return Access::OpenFailed;
    }
    struct stat st {};
    if (::fstat(dir, &st) != 0 || !OwnedPrivately(st)) {
        ::close(dir);
        return Access::NotOwn;
    }
    handle_ = dir;
    path_ = path;
    return Access::Ok;
}

void PrivateDirectory::Lock() {
    while (::flock(static_cast<int>(handle_), LOCK_EX) != 0 && errno == EINTR) {
    }
}

Access PrivateDirectory::Read(const char* name, std::size_t most, std::string& text,
                              std::string& why) {
    text.clear();
    const int dir = static_cast<int>(handle_);
    const int fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return Access::Missing;
        if (errno == ELOOP)
            return Access::Link;
        why = ErrorText(errno);
        return Access::OpenFailed;
    }
    struct stat st {};
    const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && OwnedPrivately(st);
    Access access = ours ? Access::Ok : Access::NotOwn;
    if (ours) {
        text.resize(most);
        std::size_t length = 0;
        for (ssize_t n; length < text.size() &&
                        (n = ::read(fd, text.data() + length, text.size() - length)) != 0;) {
            if (n < 0 && errno != EINTR) {
                why = ErrorText(errno);
                access = Access::ReadFailed;
                break;
            }
            length += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        text.resize(length);
    }
    ::close(fd);
    return access;
}

std::string PrivateDirectory::Write(const char* name, std::string_view text) {
    const int dir = static_cast<int>(handle_);
    const std::string temporary = std::string(name) + ".new-" + std::to_string(::getpid());
    ::unlinkat(dir, temporary.c_str(), 0); // left by a run that died
    const int fd = ::openat(dir, temporary.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return ErrorText(errno);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == text.size() && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!written || ::renameat(dir, temporary.c_str(), dir, name) != 0) {
        const std::string failed = ErrorText(written ? errno : savedErrno);
        ::unlinkat(dir, temporary.c_str(), 0);
        return failed;
    }
    ::fsync(dir);
    return {};
}

PrivateDirectory::~PrivateDirectory() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

LockHandle OpenLockFile(const std::string& path, Access& access, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        access = errno == ELOOP ? Access::Link : Access::OpenFailed;
        why = ErrorText(errno);
        return kNoLock;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        access = Access::NotOwn;
        return kNoLock;
    }
    access = Access::Ok;
    return fd;
}

bool TryLock(LockHandle file, std::string& why) {
    if (::flock(static_cast<int>(file), LOCK_EX | LOCK_NB) == 0)
        return true;
    if (errno != EWOULDBLOCK && errno != EINTR)
        why = ErrorText(errno);
    return false;
}

bool ReadLockFile(LockHandle file, std::size_t most, std::string& text, std::string& why) {
    text.resize(most);
    const ssize_t length = ::pread(static_cast<int>(file), text.data(), most, 0);
    if (length < 0) {
        why = ErrorText(errno);
        text.clear();
        return false;
    }
    text.resize(static_cast<std::size_t>(length));
    return true;
}

bool WriteLockFile(LockHandle file, std::string_view text, std::string& why) {
    const int fd = static_cast<int>(file);
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        why = ErrorText(errno);
        return false;
    }
    return true;
}

void CloseLockFile(LockHandle file) {
    if (file != kNoLock)
        ::close(static_cast<int>(file));
}

FilePrivacy PrivacyOf(const std::string& path) {
    FilePrivacy privacy;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        privacy.absent = errno == ENOENT;
        privacy.why = ErrorText(errno);
        return privacy;
    }
    privacy.found = true;
    privacy.regular = S_ISREG(info.st_mode);
    privacy.size = static_cast<std::uintmax_t>(info.st_size);
    privacy.othersOwn = info.st_uid != ::geteuid() && info.st_uid != 0;
    privacy.othersMayWrite = info.st_mode & (S_IWGRP | S_IWOTH);
    privacy.othersMayRead = info.st_mode & (S_IRWXG | S_IRWXO);
    return privacy;
}

std::string MakePrivateCommand(const std::string& path) {
    return "chmod 600 " + path;
}

#endif

} // namespace tavo::platform
