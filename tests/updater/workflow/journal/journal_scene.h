// An installation of about twenty files with its database, a real local FTP
// server offering an update that replaces some of them and adds others in new
// folders, and runs of the real update sequence in child processes that may be
// killed anywhere or given a file-size limit; and the check that kills such
// runs at every step, whichever system the runs are made on.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
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

class JournalScene;

struct ChildRun {
    bool killed = false;    // ended abruptly by the crash hook
    bool finished = false;  // exited normally
    std::vector<std::string> windowCalls;
};

// How the updater's runs are made. Empty members: in a child forked from the
// test (RunUpdaterHere) and the recovery in the test's own process.
struct UpdaterLauncher {
    std::string name;  // for the tests' names
    // One run; crashStep > 0 makes the crash hook end it at that step. When
    // it returns, the process-control program the run started has ended or is
    // the scene's own stand-in (which ProcessControlCalls() waits for).
    std::function<ChildRun(const JournalScene& scene, long crashStep)> run;
    // The recovery alone, as the next start runs it before its check: true
    // when it left nothing it could not undo.
    std::function<bool(const JournalScene& scene)> recover;
};

// Tests show a launcher by its name.
inline void PrintTo(const UpdaterLauncher& launcher, std::ostream* out) { *out << launcher.name; }

struct JournalSceneOptions {
    std::string script = "INSERT INTO people VALUES('new colleague');\nCREATE TABLE extra(x);";
    // A large, highly compressible file in the update (for the file-size limit).
    std::size_t zeroFileSize = 0;
    // Changes the published server folder after publishing (corrupting it).
    std::function<void(const std::filesystem::path& serverFolder)> spoil;
    UpdaterLauncher launcher;
};

class JournalScene {
public:
    explicit JournalScene(const JournalSceneOptions& options = {});
    ~JournalScene();

    std::filesystem::path Install() const { return m_scene.Install(); }
    std::filesystem::path Root() const { return m_scene.Root(); }
    // The current directory of the scene's runs, where the process-control
    // program is found first.
    std::filesystem::path WorkDir() const { return m_scene.WorkDir(); }
    // Where a run writes its window's calls, one a line.
    std::filesystem::path CallsFile() const { return Root() / "calls.txt"; }

    // Puts the old installation back (files, database, manifest) and forgets
    // the process-control calls.
    void ResetInstallation();

    // One run of the updater (check, update) in a child process. crashStep > 0
    // kills the child at that step; fileSizeLimit > 0 caps what it may write
    // (only in a forked child).
    ChildRun RunUpdater(long crashStep = 0, long long fileSizeLimit = 0);
    // The recovery alone; true when clean.
    bool Recover();

    InstallationState Snapshot() const;
    const InstallationState& OldState() const { return m_old; }

    std::string InstalledVersion() const;
    // The process-control program's command lines so far, in order.
    std::vector<std::string> ProcessControlCalls() const { return m_scene.ProcessControlCalls(); }

private:
    testsupport::InstallScene m_scene;
    UpdaterLauncher m_launcher;
    InstallationState m_old;
};

// "old", "new" or "MIXED" for a state compared with the two.
std::string Classify(const InstallationState& state, const InstallationState& oldState,
                     const InstallationState& newState);

// What a crash check found.
struct CrashTally {
    int points = 0;  // steps at which a run was ended
    int mixed = 0;   // installations found neither old nor new
};

// Runs the scene's update ended at step 1, 2, ... until a run is no longer
// ended. After every end the installation is recovered, either alone (every
// second step, then it must be the old or the new one) or by the next start
// of the updater, and must be `expectedAfterRetry` after a full second run.
CrashTally CrashEverywhere(JournalScene& scene, const InstallationState& newState,
                           const InstallationState& expectedAfterRetry);
