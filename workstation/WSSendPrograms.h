#pragma once

// A Combination written onto the instrument from a PCG file plays the Programs of the
// instrument's slots that its Int and Both timbres name: it sounds as it did only where the
// instrument holds the same Programs there. Before such a write this compares the Programs the
// file holds in those slots with the instrument's (downloading their banks first, after a
// question, when they are not known in this connection). When some differ, one question lists
// them and the instrument's Combinations that play those slots too: the Programs can be written
// with the Combination (one Undo step for all of it), the Combination alone, or nothing.
//
// User-interface thread only; the downloads and writes wait in the window's nested loops.

#include <QString>

#include <cstdint>
#include <vector>

#include "workstation/WriteHistory.h"

class CWSFrame;

class CWSSendPrograms {
public:
    // A Program that the Combination plays, as the file holds it (empty: the file holds none).
    struct Program {
        int bank = 0;  // 0..5
        int slot = 0;
        std::vector<std::uint8_t> record;
        QString name;
    };

    // True when the Combination was written. `programs` are those of its Int and Both timbres
    // in the instrument's writable banks, each once.
    static bool Run(CWSFrame& frame, const bq::ws::Place& target,
                    const std::vector<std::uint8_t>& record, const QString& name,
                    const std::vector<Program>& programs);
};
