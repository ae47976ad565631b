// An installation of about twenty files with its database, a real local FTP
// server offering an update that replaces some of them and adds others in new
// folders, and runs of the real update sequence in child processes that may be
// killed anywhere or given a file-size limit.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/install_scene.h"

// Every file's content and every folder of an installation, and its
// database's schema and rows; the lock file is left out.
struct InstallationState {
    std::map<std::string, std::string> entries;  // "F path" / "D path" -> content
    std::vector<std::string> database;
    bool operator==(const InstallationState&) const = default;
};

struct JournalSceneOptions {
    std::string script = "INSERT INTO people VALUES('new colleague');\nCREATE TABLE extra(x);";
    // A large, highly compressible file in the update (for the file-size limit).
    std::size_t zeroFileSize = 0;
    // Changes the published server folder after publishing (corrupting it).
    std::function<void(const std::filesystem::path& serverFolder)> spoil;
};

struct ChildRun {
    bool killed = false;    // ended by SIGKILL (the crash hook)
    bool finished = false;  // exited normally
    std::vector<std::string> windowCalls;
};

class JournalScene {
public:
    explicit JournalScene(const JournalSceneOptions& options = {});
    ~JournalScene();

    std::filesystem::path Install() const { return m_scene.Install(); }
    std::filesystem::path Root() const { return m_scene.Root(); }

    // Puts the old installation back (files, database, manifest) and forgets
    // the process-control calls.
    void ResetInstallation();

    // One run of the updater (check, update) in a child process. crashStep > 0
    // kills the child at that step; fileSizeLimit > 0 caps what it may write.
    ChildRun RunUpdater(long crashStep = 0, long long fileSizeLimit = 0);

    InstallationState Snapshot() const;
    const InstallationState& OldState() const { return m_old; }

    std::string InstalledVersion() const;
    // The process-control program's command lines so far, in order.
    std::vector<std::string> ProcessControlCalls() const { return m_scene.ProcessControlCalls(); }

private:
    testsupport::InstallScene m_scene;
    InstallationState m_old;
};

// "old", "new" or "MIXED" for a state compared with the two.
std::string Classify(const InstallationState& state, const InstallationState& oldState,
                     const InstallationState& newState);
