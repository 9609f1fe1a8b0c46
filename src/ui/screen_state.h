// What a recovery screen is doing, and which of its commands that allows: the stage (drive,
// scanning, results), the results count, and the work that runs on workers. Every refusal is a
// message of the shared texts; a refused command leaves the state as it was.
#pragma once

namespace kfr::ui {

enum class ScreenMode { Basic = 1, Deep = 2, Signature = 5 };

// "Basic Search", "Deep Search", "Signature Search".
const char* modeName(ScreenMode mode);

enum class Command { Next, Back, Stop, RefreshTree, Save, SaveLog, LoadLog, SearchMorePartitions };

enum class Verdict {
    Run,     // do it
    Refuse,  // show the message, change nothing
    Ignore,  // nothing happens (the command does not apply now)
};

struct CommandAnswer {
    Verdict verdict = Verdict::Ignore;
    const char* message = nullptr;  // set for Refuse
};

struct ScreenState {
    // Incremented by Next when a scan starts, reset by Back: 0 is the drive stage.
    int resultsCount = 0;
    bool scanRunning = false;
    bool listPopulating = false;
    bool logLoading = false;
    bool saveLogRunning = false;
    bool partitionSearchRunning = false;
    bool drivesListing = false;  // the drive lists are being filled: clicks are swallowed

    bool onDriveStage() const { return resultsCount == 0; }
    // A scan or the list population runs: the middle column of the command table.
    bool busy() const { return scanRunning || listPopulating; }

    CommandAnswer answer(Command command) const;
};

}  // namespace kfr::ui
