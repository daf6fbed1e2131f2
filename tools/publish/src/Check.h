#pragma once
#include "Diagnostics.h"

#include <memory>
#include <string>

namespace publish {

// Where a release is read from: a folder on disk or the base URL the installer downloads from.
class ReleaseSource {
public:
    virtual ~ReleaseSource() = default;
    // False with `missing` set when the file is not there, with `error` for any other failure.
    virtual bool Fetch(const std::string& name, std::string& bytes, bool& missing, std::string& error) = 0;
};

std::unique_ptr<ReleaseSource> OpenReleaseSource(const std::string& location, std::string& error);

// Reads the release as the installer will, on each kind of machine; false when an installation would fail.
bool CheckRelease(ReleaseSource& source, Diagnostics& diagnostics);

} // namespace publish
