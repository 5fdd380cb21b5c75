// Small text helpers the tool's parsers share.
#pragma once

#include <cctype>
#include <string>

namespace orvo {

// The ASCII lower-case form of s (names, choices, extensions compare this way).
inline std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace orvo
