#include "Check.h"
#include "Description.h"
#include "Platform.h"
#include "Publish.h"
#include "Signing.h"

#include <cstdio>
#include <map>

namespace {

constexpr uint64_t kMaxExpiryDays = 3650;

const char kUsage[] = "usage: mirevale-publish [--set NAME=VALUE]... [--sign KEYFILE [--serial N] [--expires DAYS]] "
                      "[--keep-read-only] DESCRIPTION OUTPUT_FOLDER\n"
                      "       mirevale-publish --check FOLDER|http://HOST[:PORT]/PATH/ [--check ...]... "
                      "[--key PUBLIC_KEY_HEX]\n"
                      "       mirevale-publish keygen KEYFILE\n";

void Print(const publish::Diagnostics& diagnostics)
{
    for (const std::string& note : diagnostics.notes)
        std::printf("%s\n", note.c_str());
    for (const std::string& warning : diagnostics.warnings)
        std::fprintf(stderr, "warning: %s\n", warning.c_str());
    for (const std::string& error : diagnostics.errors)
        std::fprintf(stderr, "error: %s\n", error.c_str());
}

int Check(const std::string& location, const std::string& keyHex)
{
    std::string error, point;
    std::unique_ptr<publish::ReleaseSource> source = publish::OpenReleaseSource(location, error);
    if (!source || (!keyHex.empty() && !publish::ParsePublicKey(keyHex, point, error))) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 1;
    }
    publish::Diagnostics diagnostics;
    std::unique_ptr<publish::SignedSource> signedSource;
    if (!point.empty())
        signedSource = publish::OpenSignedSource(*source, point, publish::CurrentTime(), diagnostics);
    bool ok
        = (point.empty() || signedSource) && publish::CheckRelease(signedSource ? *signedSource : *source, diagnostics);
    if (signedSource)
        signedSource->CheckUnfetched(diagnostics);
    ok = ok && diagnostics.errors.empty();
    Print(diagnostics);
    std::printf("%s: %s\n", location.c_str(), ok ? "the installer will accept this release" : "REJECTED");
    return ok ? 0 : 1;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

int Keygen(const std::string& path)
{
    std::string point, error;
    if (!publish::GenerateSigningKey(path, point, error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "private key written to %s (keep it off the download server)\n", path.c_str());
    std::printf("%s\n", publish::LowerHex(point).c_str());
    return 0;
}

// The option's whole number from 1 to `most`, 0 when it is not given; false when it is not such a number.
bool OptionNumber(
    const std::map<std::string, std::string>& options, const std::string& name, uint64_t most, uint64_t& value)
{
    value = 0;
    const auto found = options.find(name);
    if (found == options.end())
        return true;
    const std::string& text = found->second;
    if (!text.empty() && text.size() <= 18 && text.find_first_not_of("0123456789") == std::string::npos)
        value = std::stoull(text);
    if (value >= 1 && value <= most)
        return true;
    std::fprintf(stderr, "error: %s takes a whole number from 1 to %s\n", name.c_str(), std::to_string(most).c_str());
    return false;
}

int Publish(const std::string& descriptionPath, const std::string& output,
    const std::map<std::string, std::string>& variables, const std::string& keyFile, bool keepReadOnly,
    uint64_t requestedSerial, uint64_t expiryDays)
{
    publish::Diagnostics diagnostics;
    std::string text, error;
    publish::SigningKey key;
    ReleaseTerms terms;
    uint64_t serial = 0;
    if (!keyFile.empty()
        && (!publish::LoadSigningKey(keyFile, key, error)
            || !publish::NextSerial(output, requestedSerial, serial, error))) {
        std::fprintf(stderr, "error: %s\nnothing published; %s is unchanged\n", error.c_str(), output.c_str());
        return 1;
    }
    terms.nSerial = static_cast<int64_t>(serial);
    if (expiryDays != 0)
        terms.llExpires = publish::CurrentTime() + static_cast<int64_t>(expiryDays) * 86400;
    if (!publish::ReadWholeFile(descriptionPath, text, error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 1;
    }
    publish::ReleaseDescription description;
    description.keepReadOnly = keepReadOnly;
    publish::ReleasePlan plan;
    const bool ok = publish::ParseDescription(
                        text, descriptionPath, FolderOf(descriptionPath), variables, description, diagnostics.errors)
        && publish::PlanRelease(description, plan, diagnostics)
        && publish::WriteRelease(plan, output, diagnostics, keyFile.empty() ? nullptr : &key, terms);
    Print(diagnostics);
    if (!ok) {
        std::fprintf(stderr, "nothing published; %s is unchanged\n", output.c_str());
        return 1;
    }
    std::printf("published %s packages and %s checked files to %s\n", std::to_string(plan.packages.size()).c_str(),
        std::to_string(plan.verified.size()).c_str(), output.c_str());
    if (!keyFile.empty()) {
        std::printf("signed release.sha256 with the key %s\n", publish::LowerHex(key.point).c_str());
        std::printf("release %s\n", publish::DescribeTerms(terms).c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = publish::CommandLineArguments(argc, argv);
    std::map<std::string, std::string> variables;
    std::map<std::string, std::string> options; // --key, --sign, --serial, --expires: each once, with a value
    std::vector<std::string> checks; // --check, once for each mirror of the release
    std::vector<std::string> positional;
    bool usable = true;
    bool keepReadOnly = false;
    for (size_t i = 0; i < args.size() && usable; ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--set" && hasValue && args[i + 1].find('=') != std::string::npos) {
            const std::string& assignment = args[++i];
            variables[assignment.substr(0, assignment.find('='))] = assignment.substr(assignment.find('=') + 1);
        } else if (args[i] == "--keep-read-only") {
            usable = !keepReadOnly;
            keepReadOnly = true;
        } else if (args[i] == "--check" && hasValue) {
            checks.push_back(args[++i]);
        } else if ((args[i] == "--key" || args[i] == "--sign" || args[i] == "--serial" || args[i] == "--expires")
            && hasValue) {
            usable = options.emplace(args[i], args[i + 1]).second;
            ++i;
        } else {
            usable = args[i].compare(0, 2, "--") != 0;
            positional.push_back(args[i]);
        }
    }
    const bool check = !checks.empty();
    const std::string key = options.count("--key") ? options["--key"] : "";
    const std::string sign = options.count("--sign") ? options["--sign"] : "";
    const bool stamped = options.count("--serial") || options.count("--expires");
    if (usable && check && positional.empty() && variables.empty() && sign.empty() && !stamped) {
        // Each is checked on its own: a release served from several places must be whole at each.
        int status = 0;
        for (const std::string& location : checks)
            status = Check(location, key) != 0 ? 1 : status;
        return status;
    }
    if (usable && positional.size() == 2 && positional[0] == "keygen" && options.empty() && checks.empty()
        && variables.empty())
        return Keygen(positional[1]);
    uint64_t serial = 0, expiryDays = 0;
    if (usable && !check && key.empty() && positional.size() == 2 && (!sign.empty() || !stamped)
        && OptionNumber(options, "--serial", static_cast<uint64_t>(MAX_LISTED_NUMBER), serial)
        && OptionNumber(options, "--expires", kMaxExpiryDays, expiryDays))
        return Publish(positional[0], positional[1], variables, sign, keepReadOnly, serial, expiryDays);
    std::fputs(kUsage, stderr);
    return 2;
}
