#pragma once

// Comparing a PCG file with the instrument: the banks the file holds are downloaded into the
// Workstation view (through its own loading), and then each Combination and Program of the
// file is marked in its tree: the same sound in the same slot of the instrument, the same
// Combination there but playing Programs the instrument holds differently (the tip names them),
// the same sound elsewhere on it (the tip says where), or not on it. The window's item pane shows a
// legend. The model compares (bq::Compare); this only shows the answer, and shows it again
// when the Workstation's banks change. User-interface thread only.

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "model/ItemCatalog.h"

class CBankTreeView;
class CItemSources;
class CPCGFrame;
class CWSFrame;
class QMdiSubWindow;
class QTreeWidgetItem;

class CComparisons : public QObject {
    Q_OBJECT
public:
    explicit CComparisons(CItemSources& sources, QObject* parent = nullptr);
    ~CComparisons() override;

    // The whole command: asks first when banks must be downloaded (connecting first when the
    // Workstation window is not connected; `showWorkstation` shows it as View Workstation
    // does), downloads them, then marks the file. False when nothing was marked.
    bool Run(CPCGFrame* frame, CWSFrame* workstation, const std::function<void()>& showWorkstation);

    // Marks the file's items by what the Workstation view holds now.
    void Mark(CPCGFrame* frame);
    void Clear(CPCGFrame* frame);
    bool Has(const QMdiSubWindow* window) const;
    // How an item of a marked file compares, for its pane; empty otherwise.
    QString StatusOf(const CBankTreeView* view, std::size_t index) const;

    // The kinds of mark, by their look.
    static QString SameColour();
    static QString ElsewhereColour();
    static QString MissingColour();
    static QString ProgramsDifferColour();

Q_SIGNALS:
    // Marks were set, changed or taken away.
    void Marked();

private:
    struct Marks {
        QPointer<CPCGFrame> frame;
        std::uint32_t file = 0;  // its source
        std::uint64_t fileGeneration = 0;
        std::uint64_t workstationGeneration = 0;
        std::vector<QString> status;          // by the file's catalogue index
        std::vector<QTreeWidgetItem*> nodes;  // marked
    };

    Marks* Find(const QMdiSubWindow* window);
    void Unmark(Marks& marks);
    void Recompute();

    CItemSources& m_sources;
    std::vector<Marks> m_marks;
};
