#pragma once
// Helpers shared by the test programs.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "MessageBox.h"

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
// Writes the file, making its folders first.
void WriteFile(const std::filesystem::path& file, const std::string& bytes);
// Makes folders below base (folder names of up to 200 bytes) so that the
// last one's path is exactly length bytes long, and returns that path.
std::filesystem::path MakeLongFolder(const std::filesystem::path& base, size_t length);
// size pseudo-random bytes, the same for the same seed.
std::string RandomBytes(size_t size, unsigned seed);
// Every entry below root: relative path -> "d", "f:" + contents or "l:" +
// a link's target.
std::map<std::string, std::string> Tree(const std::filesystem::path& root);

// Records every message box while it lives and answers each with OK.
class Boxes : public platform::MessageBoxRecorder {
public:
    Boxes() : MessageBoxRecorder([](const platform::RecordedBox&) { return platform::IDOK; }) {}
    // The texts so far, forgetting them.
    std::vector<std::string> Take()
    {
        std::vector<std::string> texts = Texts();
        Clear();
        return texts;
    }
};

// Makes a file read-only, for root too, while it lives: a read-only bind
// mount of the file on itself, in a mount namespace of the calling thread's
// own (made on the first use), which the threads and processes it starts
// afterwards share. Reads go on; writes, replacing and removing it fail.
// Ok() is false when the system allowed none of it.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::filesystem::path& file);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    bool Ok() const { return m_ok; }

private:
    std::filesystem::path m_file;
    bool m_ok = false;
};

// Runs a shell command, returns its standard output; exit status into *status.
std::string RunCommand(const std::string& command, int* status = nullptr);

// Runs the test program from a folder of its own, for programs whose state
// lies beside the program (the login memory "quom.ini"): test programs that
// ctest runs in parallel would share it otherwise. Call it first in main
// (TOLVANE_PRIVATE_NETWORK's re-execution has happened by then).
//
// The first call places a hard link of the program (a copy where links are
// impossible) in a new folder beside it, with links to the shared libraries
// (libpendrix.so) and the Styles folder found there, so the copy loads what
// the program would. It runs the copy with the same arguments, passes
// SIGINT, SIGTERM, SIGHUP and SIGQUIT on to it, removes the folder once it
// ended and exits as it did; it never returns. In the copy it returns at
// once. Folders left by a run that was killed outright are removed by the
// next run.
void RunFromPrivateProgramFolder(int argc, char** argv);
// The folder RunFromPrivateProgramFolder placed this program in; empty
// outside such a run.
std::filesystem::path PrivateProgramFolder();
// Places program in folder as RunFromPrivateProgramFolder does: a hard link
// (or copy) of it and of the shared libraries beside it, a link to Styles.
void PlaceProgram(const std::filesystem::path& program, const std::filesystem::path& folder);

} // namespace testsupport
