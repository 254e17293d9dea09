// The page files under resources/pages, built into the program.
#pragma once

#include <string_view>

namespace wendrix {

extern const std::string_view kWaitingPageFile;    // waiting.html; "<!--live-->" marks the live part
extern const std::string_view kConnectedPageFile;  // connected.html; likewise
extern const std::string_view kHelpPageFile;       // help.html
extern const std::string_view kStyleFile;          // style.css
extern const std::string_view kScriptFile;         // live.js

}  // namespace wendrix
