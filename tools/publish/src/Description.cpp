#include "Description.h"

#include "Platform.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace publish {

namespace {

bool SplitFields(const std::string& line, std::vector<std::string>& fields, std::string& problem)
{
    fields.clear();
    for (size_t i = 0; i < line.size();) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        std::string field;
        bool quoted = false;
        for (; i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t')); ++i) {
            if (line[i] == '"')
                quoted = !quoted;
            else
                field += line[i];
        }
        if (quoted) {
            problem = "a quote is not closed";
            return false;
        }
        fields.push_back(field);
    }
    return true;
}

bool Expand(const std::string& field, const std::map<std::string, std::string>& variables, std::string& out,
    std::string& problem)
{
    out.clear();
    for (size_t i = 0; i < field.size();) {
        if (field.compare(i, 2, "${") != 0) {
            out += field[i++];
            continue;
        }
        const size_t end = field.find('}', i);
        if (end == std::string::npos) {
            problem = "\"${\" without \"}\"";
            return false;
        }
        const std::string name = field.substr(i + 2, end - i - 2);
        const auto found = variables.find(name);
        if (found == variables.end()) {
            problem = "variable ${" + name + "} is not set (set it here or with --set " + name + "=...)";
            return false;
        }
        out += found->second;
        i = end + 1;
    }
    return true;
}

bool ReadInt32(const std::string& text, int32_t& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

std::string TrimSeparators(std::string path)
{
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path == "." ? std::string() : path;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

bool ParseDescription(const std::string& text, const std::string& origin, const std::string& baseFolder,
    const std::map<std::string, std::string>& overrides, ReleaseDescription& release, std::vector<std::string>& errors)
{
    std::map<std::string, std::string> variables = overrides;
    const size_t errorsBefore = errors.size();
    const size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int lineNumber = 0;
    for (size_t at = start; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string where = origin + ":" + std::to_string(lineNumber) + ": ";
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;

        std::vector<std::string> raw;
        std::string problem;
        if (!SplitFields(line, raw, problem)) {
            errors.push_back(where + problem);
            continue;
        }
        const std::string& keyword = raw[0];
        std::vector<std::string> args;
        for (size_t i = 1; i < raw.size() && problem.empty(); ++i) {
            std::string expanded;
            if (Expand(raw[i], variables, expanded, problem))
                args.push_back(expanded);
        }
        if (!problem.empty()) {
            errors.push_back(where + problem);
            continue;
        }
        auto resolve = [&](const std::string& path) { return IsAbsolutePath(path) ? path : baseFolder + "/" + path; };

        if (keyword == "set") {
            if (args.size() != 2)
                errors.push_back(where + "\"set\" takes a name and a value");
            else if (!overrides.count(args[0]))
                variables[args[0]] = args[1];
        } else if (keyword == "uninstaller") {
            if (args.size() != 1)
                errors.push_back(where + "\"uninstaller\" takes one path");
            else if (!release.uninstaller.empty())
                errors.push_back(where + "the uninstaller is named twice");
            else
                release.uninstaller = resolve(args[0]);
        } else if (keyword == "package") {
            PackageDescription package;
            package.line = lineNumber;
            if (args.size() < 2 || args.size() > 3) {
                errors.push_back(where + "\"package\" takes a file name, a kind and an optional value");
                continue;
            }
            package.name = args[0];
            if (!ReadInt32(args[1], package.kind))
                errors.push_back(where + "kind \"" + args[1] + "\" is not a 32-bit decimal number");
            if (args.size() == 3 && !ReadInt32(args[2], package.value))
                errors.push_back(where + "value \"" + args[2] + "\" is not a 32-bit decimal number");
            release.packages.push_back(package);
        } else if (keyword == "folder" || keyword == "file") {
            if (release.packages.empty()) {
                errors.push_back(where + "\"" + keyword + "\" before the first \"package\"");
                continue;
            }
            if (args.empty() || args.size() > 2) {
                errors.push_back(where + "\"" + keyword + "\" takes a source path and an optional destination");
                continue;
            }
            SourceEntry entry;
            entry.isFolder = keyword == "folder";
            entry.source = resolve(args[0]);
            entry.destination = TrimSeparators(args.size() == 2 ? args[1] : entry.isFolder ? "" : BaseName(args[0]));
            entry.line = lineNumber;
            if (!entry.isFolder && entry.destination.empty())
                errors.push_back(where + "\"file\" needs a destination name");
            else
                release.packages.back().sources.push_back(entry);
        } else {
            errors.push_back(where + "unknown keyword \"" + keyword + "\"");
        }
    }
    if (release.uninstaller.empty())
        errors.push_back(origin + ": no \"uninstaller\" line");
    if (release.packages.empty())
        errors.push_back(origin + ": no \"package\" line");
    return errors.size() == errorsBefore;
}

} // namespace publish
