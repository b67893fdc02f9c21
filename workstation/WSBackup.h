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
};
