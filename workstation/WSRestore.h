#pragma once

// Putting a PCG file back onto the instrument from the Workstation window: the banks the file
// holds that are not known in this connection are downloaded first, the user is shown what
// would change bank by bank and ticks the banks to restore, what the instrument holds in them
// is saved to a file first (on by default), and only the slots that differ are written, under
// one progress dialog, as one step that Edit > Undo takes back. A failure stops it and says
// which slot failed and how many were written; the history and the view then say what the
// instrument holds.
//
// User-interface thread only; the downloads and writes wait in the window's nested loops.

#include <QDateTime>
#include <QString>

class CWSFrame;

class CWSRestore {
public:
    enum class Outcome { Written, Nothing, Cancelled, Failed };

    // The frame must be connected. The safety backup goes into `safetyFolder`.
    static Outcome Run(CWSFrame& frame, const QString& path, const QString& safetyFolder);

    // "karma-before-restore-YYYY-MM-DD-HHMM.pcg" at the local time `now`.
    static QString SafetyFileName(const QDateTime& now);
};
