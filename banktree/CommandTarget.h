#pragma once

// Commands of the main menu that the active view handles, by their menu ids.
enum : int {
    ID_PROGRAM_INITIALISE = 500,
    ID_COMBINATION_INITIALISE = 501,
    ID_BANK_INITIALISE = 502,
    ID_ROUND_TRIP = 507,
};

// Implemented by a view (or the document window that hosts it) that handles some commands of
// the main window while it is active. The main window asks the active document window, then
// its widget, then the focused widget and its parents inside it. User-interface thread only.
class ICommandTarget {
public:
    virtual ~ICommandTarget() = default;
    // True when this target knows the command; then *enabled says whether it is available.
    virtual bool OnUpdateCommand(int id, bool* enabled) = 0;
    // True when the command was handled.
    virtual bool OnCommand(int id) = 0;
};
