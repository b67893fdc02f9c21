#pragma once

// What the main window offers the features that work on the instrument: its one Workstation
// window, made on first use, connected on demand. User-interface thread only.

class CWSFrame;

class IWorkstationHost {
public:
    virtual ~IWorkstationHost() = default;
    // The Workstation window, made now if it was not.
    virtual CWSFrame* Workstation() = 0;
    // Connects it when it is not, with the usual search; true once it is.
    virtual bool ConnectWorkstation() = 0;
    // Shows it as View Workstation does (which searches when it is not connected).
    virtual void ShowWorkstation() = 0;
};
