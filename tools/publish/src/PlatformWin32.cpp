#include "Platform.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <memory>

namespace publish {

namespace {

std::wstring Wide(const std::string& utf8)
{
    std::wstring out(utf8.size() + 1, L'\0');
    const int n = MultiByteToWideChar(
        CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], static_cast<int>(out.size()));
    out.resize(n > 0 ? n : 0);
    return out;
}

std::string Narrow(const wchar_t* text, int length, UINT codePage)
{
    if (length == 0)
        return std::string();
    const int n = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(codePage, 0, text, length, &out[0], n, nullptr, nullptr);
    return out;
}

std::string Utf8(const std::wstring& text)
{
    return Narrow(text.data(), static_cast<int>(text.size()), CP_UTF8);
}

std::wstring NativePath(const std::string& path)
{
    std::wstring wide = Wide(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
}

std::string SystemMessage(DWORD code)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = text ? text : L"";
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return Utf8(message) + " (" + std::to_string(code) + ")";
}

std::string Describe(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + SystemMessage(GetLastError());
}

int64_t UnixSeconds(const FILETIME& time)
{
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

FileHandle OpenFile(const std::string& path, DWORD access, DWORD disposition)
{
    HANDLE h = CreateFileW(
        NativePath(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return FileHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

} // namespace

bool ListFilesBelow(
    const std::string& root, const std::string& prefix, std::vector<std::string>& out, std::string& error)
{
    const std::string folder = prefix.empty() ? root : root + "/" + prefix;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((NativePath(folder) + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        error = Describe("cannot list", folder);
        return false;
    }
    bool ok = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::string relative = prefix.empty() ? Utf8(name) : prefix + "/" + Utf8(name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = ListFilesBelow(root, relative, out, error);
        else
            out.push_back(relative);
    } while (ok && FindNextFileW(find, &found));
    FindClose(find);
    return ok;
}

std::vector<std::string> CommandLineArguments(int, char**)
{
    // argv holds ANSI text, which cannot carry every file name; the wide command line can.
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> out;
    for (int i = 1; i < count; ++i)
        out.push_back(Utf8(args[i]));
    LocalFree(args);
    return out;
}

bool IsAbsolutePath(const std::string& path)
{
    return (path.size() >= 2 && path[1] == ':') || (!path.empty() && (path[0] == '/' || path[0] == '\\'));
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesW(NativePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool GetFileInfo(const std::string& path, FileInfo& info, std::string& error)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(NativePath(path).c_str(), GetFileExInfoStandard, &data)) {
        error = Describe("cannot read", path);
        return false;
    }
    info.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.modified = UnixSeconds(data.ftLastWriteTime);
    info.attributes = data.dwFileAttributes & (ZIP_ATTRIBUTE_READONLY | ZIP_ATTRIBUTE_HIDDEN | ZIP_ATTRIBUTE_SYSTEM);
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& data, std::string& error)
{
    FileHandle file = OpenFile(path, GENERIC_READ, OPEN_EXISTING);
    if (!file) {
        error = Describe("cannot open", path);
        return false;
    }
    data.clear();
    char chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) {
            error = Describe("cannot read", path);
            return false;
        }
        if (got == 0)
            return true;
        data.append(chunk, got);
    }
}

bool WriteWholeFile(const std::string& path, const std::string& data, std::string& error)
{
    FileHandle file = OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (!file) {
        error = Describe("cannot create", path);
        return false;
    }
    for (size_t done = 0; done < data.size();) {
        const DWORD part = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1 << 20));
        DWORD written = 0;
        if (!WriteFile(file.get(), data.data() + done, part, &written, nullptr) || written != part) {
            error = Describe("cannot write", path);
            return false;
        }
        done += part;
    }
    return true;
}

bool MakeFolder(const std::string& path, std::string& error)
{
    if (!CreateDirectoryW(NativePath(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        error = Describe("cannot create folder", path);
        return false;
    }
    return true;
}

bool MakeSiblingTempFolder(const std::string& target, std::string& tempFolder, std::string& error)
{
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate
            = target + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryW(NativePath(candidate).c_str(), nullptr)) {
            tempFolder = candidate;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    error = Describe("cannot create a folder beside", target);
    return false;
}

bool ReplaceFolder(const std::string& ready, const std::string& target, std::string& error)
{
    // Windows cannot rename a folder over another: move the old release aside, then the new one in.
    std::string aside;
    if (PathExists(target)) {
        aside = target + ".old-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
        if (!MoveFileExW(NativePath(target).c_str(), NativePath(aside).c_str(), 0)) {
            error = Describe("cannot move the previous release aside:", target);
            return false;
        }
    }
    if (!MoveFileExW(NativePath(ready).c_str(), NativePath(target).c_str(), 0)) {
        error = Describe("cannot rename " + ready + " to", target);
        if (!aside.empty())
            MoveFileExW(NativePath(aside).c_str(), NativePath(target).c_str(), 0);
        return false;
    }
    if (!aside.empty())
        RemoveTree(aside);
    return true;
}

void RemoveTree(const std::string& path)
{
    const std::wstring native = NativePath(path);
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(native.c_str());
        return;
    }
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((native + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..")
                names.push_back(Utf8(name));
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    for (const std::string& name : names)
        RemoveTree(path + "/" + name);
    RemoveDirectoryW(native.c_str());
}

std::string TempRoot()
{
    wchar_t buffer[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    std::string root = Utf8(std::wstring(buffer, n));
    while (!root.empty() && (root.back() == '\\' || root.back() == '/'))
        root.pop_back();
    return root;
}

bool ToCodePage936(const std::string& utf8, std::string& ansi)
{
    const std::wstring wide = Wide(utf8);
    if (wide.empty()) {
        ansi.clear();
        return utf8.empty();
    }
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(
        936, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, &usedDefault);
    if (n <= 0 || usedDefault)
        return false;
    ansi.assign(n, '\0');
    WideCharToMultiByte(
        936, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), &ansi[0], n, nullptr, nullptr);
    return true;
}

bool FromCodePage936(const std::string& ansi, std::string& utf8)
{
    if (ansi.empty()) {
        utf8.clear();
        return true;
    }
    const int n
        = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (n <= 0)
        return false;
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, ansi.data(), static_cast<int>(ansi.size()), &wide[0], n);
    utf8 = Utf8(wide);
    return true;
}

bool ToLocalCalendar(int64_t time, std::tm& local)
{
    const __time64_t t = time;
    return _localtime64_s(&local, &t) == 0;
}

int64_t CurrentTime()
{
    return _time64(nullptr);
}

} // namespace publish
