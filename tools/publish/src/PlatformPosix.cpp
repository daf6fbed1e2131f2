#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace publish {

namespace {

std::string Describe(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

bool Convert(const char* to, const char* from, const std::string& in, std::string& out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.assign(in.size() * 4 + 4, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &out[0];
    size_t dstLeft = out.size();
    const size_t done = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1) || srcLeft != 0)
        return false;
    out.resize(out.size() - dstLeft);
    return true;
}

} // namespace

bool ListFilesBelow(
    const std::string& root, const std::string& prefix, std::vector<std::string>& out, std::string& error)
{
    const std::string folder = prefix.empty() ? root : root + "/" + prefix;
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        error = Describe("cannot list", folder);
        return false;
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    }
    closedir(dir);
    for (const std::string& name : names) {
        const std::string relative = prefix.empty() ? name : prefix + "/" + name;
        struct stat st;
        if (stat((root + "/" + relative).c_str(), &st) != 0) {
            error = Describe("cannot read", root + "/" + relative);
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            if (!ListFilesBelow(root, relative, out, error))
                return false;
        } else if (S_ISREG(st.st_mode)) {
            out.push_back(relative);
        } else {
            error = root + "/" + relative + " is neither a file nor a folder";
            return false;
        }
    }
    return true;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + 1, argv + argc);
}

bool IsAbsolutePath(const std::string& path)
{
    return !path.empty() && path[0] == '/';
}

bool PathExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool GetFileInfo(const std::string& path, FileInfo& info, std::string& error)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        error = Describe("cannot read", path);
        return false;
    }
    info.isFolder = S_ISDIR(st.st_mode);
    info.size = static_cast<uint64_t>(st.st_size);
    info.modified = st.st_mtime;
    // A build host's files are never hidden or system; a file without write permission is read-only.
    info.attributes = (st.st_mode & S_IWUSR) ? 0 : ZIP_ATTRIBUTE_READONLY;
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& data, std::string& error)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = Describe("cannot open", path);
        return false;
    }
    data.clear();
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        data.append(chunk, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = Describe("cannot read", path);
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& data, std::string& error)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = Describe("cannot create", path);
        return false;
    }
    const bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    if (std::fclose(file) != 0 || !written) {
        error = Describe("cannot write", path);
        return false;
    }
    return true;
}

bool MakeFolder(const std::string& path, std::string& error)
{
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
        error = Describe("cannot create folder", path);
        return false;
    }
    return true;
}

bool MakeSiblingTempFolder(const std::string& target, std::string& tempFolder, std::string& error)
{
    std::string pattern = target + ".tmp-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
        error = Describe("cannot create a folder beside", target);
        return false;
    }
    // mkdtemp makes the folder private; a web server has to read the release.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(pattern.c_str(), 0777 & ~mask);
    tempFolder = pattern;
    return true;
}

bool ReplaceFolder(const std::string& ready, const std::string& target, std::string& error)
{
    if (!PathExists(target)) {
        if (rename(ready.c_str(), target.c_str()) != 0) {
            error = Describe("cannot rename " + ready + " to", target);
            return false;
        }
        return true;
    }
    // One atomic swap: a server sees the old release or the new one, never a mix or nothing.
    if (renameat2(AT_FDCWD, ready.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        RemoveTree(ready);
        return true;
    }
    // File systems without the exchange: move the old release aside, then the new one in.
    std::string aside = target + ".old-XXXXXX";
    if (!mkdtemp(&aside[0]) || rmdir(aside.c_str()) != 0 || rename(target.c_str(), aside.c_str()) != 0) {
        error = Describe("cannot move the previous release aside:", target);
        return false;
    }
    if (rename(ready.c_str(), target.c_str()) != 0) {
        error = Describe("cannot rename " + ready + " to", target);
        rename(aside.c_str(), target.c_str());
        return false;
    }
    RemoveTree(aside);
    return true;
}

void RemoveTree(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* dir = opendir(path.c_str())) {
            std::vector<std::string> names;
            while (dirent* entry = readdir(dir)) {
                if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                    names.push_back(entry->d_name);
            }
            closedir(dir);
            for (const std::string& name : names)
                RemoveTree(path + "/" + name);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

std::string TempRoot()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

bool ToCodePage936(const std::string& utf8, std::string& ansi)
{
    return Convert("CP936", "UTF-8", utf8, ansi);
}

bool FromCodePage936(const std::string& ansi, std::string& utf8)
{
    return Convert("UTF-8", "CP936", ansi, utf8);
}

bool ToLocalCalendar(int64_t time, std::tm& local)
{
    const time_t t = static_cast<time_t>(time);
    return localtime_r(&t, &local) != nullptr;
}

int64_t CurrentTime()
{
    return static_cast<int64_t>(std::time(nullptr));
}

} // namespace publish
