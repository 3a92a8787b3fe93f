#pragma once
// Helpers shared by the test programs.
#include <filesystem>
#include <string>

namespace testsupport {

// Folder of the built programs (tolvane, tolvane-testbed, libpendrix.so).
std::filesystem::path BinDir();
// Top of the source tree.
std::filesystem::path SourceDir();

// A fresh temporary folder removed again when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

std::string ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, const std::string& bytes);

// Runs a shell command, returns its standard output; exit status into *status.
std::string RunCommand(const std::string& command, int* status = nullptr);

} // namespace testsupport
