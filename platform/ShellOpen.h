#pragma once
// Opening a document or a web address with the desktop's preferred program
// (xdg-open), the way the shell's "open" verb does.
#include <functional>
#include <string>

namespace platform {

// Starts the opener for target and returns at once; false when it cannot be
// started. No shell sees the target: it is handed over as one argument.
bool ShellOpen(const std::string& target);

// As above; failed(status) runs when the opener could not be started (-1) or
// ended with a failure (its exit status): at once, or later on a thread of its
// own.
void ShellOpen(const std::string& target, const std::function<void(int status)>& failed);
// Why an opener failed, in words, from the status given to failed.
std::string ShellOpenFailure(int status);

// Test seam: replaces what ShellOpen does (an empty function restores the
// default). Returns the old one.
using ShellOpenFunction = std::function<bool(const std::string& target)>;
ShellOpenFunction SetShellOpenFunction(ShellOpenFunction open);

} // namespace platform
