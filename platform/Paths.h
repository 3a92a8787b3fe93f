#pragma once
#include <string>

namespace platform {

// Full path of the running executable (/proc/self/exe).
std::string ExecutablePath();

// The folder of the running executable, with a trailing "/": the program
// folder, where its INI files, Styles/ and LOG/ live.
std::string ProgramFolder();

} // namespace platform
