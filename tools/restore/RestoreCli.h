#pragma once

// The parts of bankquill-restore that need no MIDI: its options, the safety backup's name and the
// texts it prints. Pure functions, so that they are tested without a JACK server.

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "midi/RestorePlan.h"
#include "midi/RestoreWrite.h"
#include "model/Result.h"
#include "tools/backup/BackupCli.h"
#include "tools/cli/CommandLine.h"

namespace bq::restore {

extern const cli::Program kCommandLine;

struct Options : backup::LinkOptions {
    std::string file;      // the PCG file to put back
    std::string backupTo;  // empty: FreeBackupName in the current folder
    bool noBackup = false;
    bool dryRun = false;
};

// On BadUsage, *error says what is wrong.
backup::Parsed ParseOptions(int argc, const char* const* argv, Options* options,
                            std::string* error);

// karma-before-restore-YYYY-MM-DD-HHMM.pcg at the local time `now`; when a file of that name
// exists, -2, -3, ... before ".pcg": an earlier restore's safety backup of the same minute holds
// what the instrument held before it, and is never replaced.
std::string FreeBackupName(std::time_t now, const std::function<bool(const std::string&)>& exists);

// "cannot read FILE: <why>".
std::string ReadFailure(const std::string& path, HRESULT code);

// "Combination Bank C: 12 of 128 slots differ", "Combination Bank C: all 128 slots are the
// same".
std::string BankLine(const midi::RestoreBankPlan& bank);
// "Program Bank F (MOSS): not in the file".
std::string MissingBankLine(int bank);
// "In all: 140 slots to write, 150 KB (0:48 over a MIDI cable)"; "In all: nothing to write".
std::string PlanTotal(const midi::RestorePlan& plan);

// The bar of the writes on a terminal: the slot, a bar, the items and kilobytes, the time left.
std::string WriteBarLine(const midi::RestoreProgress& progress, double elapsed, int width);
// A log's line when the writes of a bank are done.
std::string WriteLogLine(const midi::RestoreProgress& progress, double elapsed);

}  // namespace bq::restore
