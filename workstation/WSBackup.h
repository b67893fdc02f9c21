#pragma once

// Backing up the instrument's whole memory from the Workstation window into one PCG file. The
// banks known in this connection are taken from the session's memory of the instrument; the
// others are downloaded, one request after the other, under one progress dialog for the whole
// backup, and shown in the view as they come. The file is then written safely (a temporary file,
// synced, read back and compared, renamed over the target). Every failure is reported here, and
// leaves no file behind and an earlier file of the name as it was.
//
// User-interface thread only; the downloads wait in the window's nested loops.

#include <QDateTime>
#include <QString>

#include <functional>
#include <vector>

class CWSFrame;

class CWSBackup {
public:
    enum class Outcome { Written, Cancelled, Failed };

    // The frame must be connected. Cancel writes nothing and says nothing.
    static Outcome Run(CWSFrame& frame, const QString& path);

    // "karma-backup-YYYY-MM-DD-HHMM.pcg" at the local time `now`.
    static QString DefaultFileName(const QDateTime& now);
    // "Combination Bank D", "Program Bank F (MOSS)", for the banks in the backup's order:
    // Combination banks A to F, then Program banks A to F.
    static QString BankTitle(int index);
    // "Bank 4 of 12: Combination Bank D".
    static QString BankStepText(int index);
    static QString BankStepText(int step, int steps, int index);

    // Downloads the banks given (0..11) into the session's memory under one progress dialog,
    // one after the other, each shown in the view as it comes; the dialog counts them among the
    // twelve (a backup) or among those given. On a failure `failed` is told which bank and how
    // its request ended (after the dialog has gone); Cancel says nothing.
    using FailedFn = std::function<void(int index, int end)>;
    static Outcome DownloadBanks(CWSFrame& frame, const std::vector<int>& indexes, bool ofAllTwelve,
                                 const FailedFn& failed);
};
