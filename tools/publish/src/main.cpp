#include "Check.h"
#include "Description.h"
#include "Platform.h"
#include "Publish.h"

#include <cstdio>
#include <map>

namespace {

const char kUsage[] = "usage: mirevale-publish [--set NAME=VALUE]... DESCRIPTION OUTPUT_FOLDER\n"
                      "       mirevale-publish --check FOLDER|http://HOST[:PORT]/PATH/\n";

void Print(const publish::Diagnostics& diagnostics)
{
    for (const std::string& note : diagnostics.notes)
        std::printf("%s\n", note.c_str());
    for (const std::string& warning : diagnostics.warnings)
        std::fprintf(stderr, "warning: %s\n", warning.c_str());
    for (const std::string& error : diagnostics.errors)
        std::fprintf(stderr, "error: %s\n", error.c_str());
}

int Check(const std::string& location)
{
    std::string error;
    std::unique_ptr<publish::ReleaseSource> source = publish::OpenReleaseSource(location, error);
    if (!source) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 1;
    }
    publish::Diagnostics diagnostics;
    const bool ok = publish::CheckRelease(*source, diagnostics);
    Print(diagnostics);
    std::printf("%s: %s\n", location.c_str(), ok ? "the installer will accept this release" : "REJECTED");
    return ok ? 0 : 1;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

int Publish(
    const std::string& descriptionPath, const std::string& output, const std::map<std::string, std::string>& variables)
{
    publish::Diagnostics diagnostics;
    std::string text, error;
    if (!publish::ReadWholeFile(descriptionPath, text, error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 1;
    }
    publish::ReleaseDescription description;
    publish::ReleasePlan plan;
    const bool ok = publish::ParseDescription(
                        text, descriptionPath, FolderOf(descriptionPath), variables, description, diagnostics.errors)
        && publish::PlanRelease(description, plan, diagnostics) && publish::WriteRelease(plan, output, diagnostics);
    Print(diagnostics);
    if (!ok) {
        std::fprintf(stderr, "nothing published; %s is unchanged\n", output.c_str());
        return 1;
    }
    std::printf("published %s packages and %s checked files to %s\n", std::to_string(plan.packages.size()).c_str(),
        std::to_string(plan.verified.size()).c_str(), output.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = publish::CommandLineArguments(argc, argv);
    if (args.size() == 2 && args[0] == "--check")
        return Check(args[1]);
    std::map<std::string, std::string> variables;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--set" && i + 1 < args.size() && args[i + 1].find('=') != std::string::npos) {
            const std::string& assignment = args[++i];
            variables[assignment.substr(0, assignment.find('='))] = assignment.substr(assignment.find('=') + 1);
        } else if (args[i].compare(0, 2, "--") == 0) {
            positional.clear();
            break;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return Publish(positional[0], positional[1], variables);
}
