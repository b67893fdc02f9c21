#pragma once

// Tools > Compare With Workstation and Tools > Clear Comparison, for the active PCG window.
// Compare is enabled while a PCG window is active and the instrument is not being waited for;
// Clear while the active PCG window is marked. User-interface thread only.

#include <QObject>
#include <QPointer>

class CCommands;
class CComparisons;
class CPCGFrame;
class CWSFrame;
class IWorkstationHost;
class QAction;
class QMdiArea;

class CComparisonCommands : public QObject {
    Q_OBJECT
public:
    CComparisonCommands(CCommands& commands, QMdiArea& area, CComparisons& comparisons,
                        IWorkstationHost& host);

    // The Workstation window, once it is made: its waits disable Compare.
    void Attach(CWSFrame* frame);
    void Update();

private:
    CPCGFrame* ActivePCGFrame() const;
    bool OnCompare();
    bool OnClear();

    QMdiArea& m_area;
    CComparisons& m_comparisons;
    IWorkstationHost& m_host;
    QPointer<CWSFrame> m_frame;
    QAction* m_compare = nullptr;  // owned by the main window
    QAction* m_clear = nullptr;
};
