#pragma once
#include <string>
#include <vector>

namespace publish {

// Everything found in one run: errors make it fail, warnings and notes only inform.
struct Diagnostics {
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    std::vector<std::string> notes;
};

} // namespace publish
