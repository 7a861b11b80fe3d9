#include "DisplayName.h"

#include <cctype>

bool GetDisplayName(const std::string& path, std::string& name) {
    if (path.empty()) {
        return false;
    }
    if ((path.size() > 3 && path[3] == ':') || (path.size() > 4 && path[4] == ':')) {
        name = path;
        return true;
    }
    const std::string drive = path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : "";
    // Separators and dots are single bytes in UTF-8, never parts of other characters.
    const size_t slash = path.find_last_of("/\\");
    const size_t nameStart = slash == std::string::npos ? drive.size() : slash + 1;
    std::string lowered = path;
    for (char& c : lowered) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (lowered.find(".ifo") != std::string::npos) {
        // A DVD is named after its drive; without a drive letter, after the root.
        name = drive.empty() ? "/" : drive + "\\";
        return true;
    }
    name = path.substr(nameStart);
    return true;
}
