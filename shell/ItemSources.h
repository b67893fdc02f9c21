#pragma once

// The bank trees open in the main window, each as a source of items: the PCG windows' trees
// and the Workstation window's downloaded banks (read from the session's memory of the
// instrument, not from its tree). Each source keeps a catalogue of its tree's
// items (model/ItemCatalog) and which node shows each, made from the tree when first needed
// and again after the tree changed; find, "where else is this sound" and the comparison work
// on the catalogues and only show their answers in the trees. User-interface thread only.

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/ItemCatalog.h"

namespace bq {
class RecordIndex;
}

class CBankItemData;
class CBankTreeView;
class CWSFrame;
class QMdiSubWindow;
class QTreeWidgetItem;

class CItemSources : public QObject {
    Q_OBJECT
public:
    struct Source {
        std::uint32_t id = 0;
        QPointer<QMdiSubWindow> window;
        const QObject* windowKey = nullptr;  // the same, for its destroyed signal
        QPointer<CBankTreeView> view;
        // The view as its model's signals name it: they also come while the view is being
        // destroyed, when it may no longer be used as a CBankTreeView.
        const QObject* viewKey = nullptr;
        QString name;  // the file's name, or "Workstation"
        bq::ItemCatalog catalog;
        // By catalogue index: the node showing the item, and its record.
        std::vector<QTreeWidgetItem*> nodes;
        std::vector<const CBankItemData*> records;
        // Counts the catalogues made: a new one means new indexes.
        std::uint64_t generation = 0;
        bool dirty = true;     // the tree changed since the catalogue was made
        bool indexed = false;  // the catalogue is in the record index
    };
    struct Place {
        Source* source;
        std::size_t index;  // in its catalogue
    };

    explicit CItemSources(QObject* parent = nullptr);
    ~CItemSources() override;

    // A PCG window's tree, under the file's name; it leaves with the window.
    void AddWindow(QMdiSubWindow* window, CBankTreeView* view, const QString& name);
    // The Workstation window, whose view is looked for each time: it may be made later, or
    // replaced.
    void SetWorkstation(CWSFrame* frame);

    // Whether the window has a bank tree here (without looking at it).
    bool Holds(const QMdiSubWindow* window) const;

    // The sources of the windows shown now, the Workstation first, then the files in the order
    // they were opened; every catalogue up to date with its tree.
    std::vector<Source*> Open();
    // The Workstation's source, shown or not; null while it has no bank view.
    Source* Workstation();
    // The source of a tree or of a window, up to date; null for any other.
    Source* OfView(const QWidget* view);
    Source* OfWindow(const QMdiSubWindow* window);
    Source* OfId(std::uint32_t id);

    // Every place of an open window holding a record byte-identical to `item`'s, its own
    // place included.
    std::vector<Place> Where(const CKarmaObject& item);

    // Brings the window forward and selects the item in its tree; false when it is gone or
    // hidden.
    bool Select(Source& source, std::size_t index);

    // "Combination A 003".
    static QString PlaceText(const bq::ItemCatalog::Entry& entry);
    // "A" ... "F", with " (MOSS)" for Program bank F, as the trees name the banks.
    static QString BankText(bq::ItemKind kind, long bank);
    // The window's name for a file path: the file's name alone.
    static QString FileName(const QString& path);

Q_SIGNALS:
    // A source came, went, changed or was shown or hidden; posted, once for many changes.
    void Changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Watch(Source& source);
    void Update(Source& source);
    void Rebuild(Source& source);
    // The Workstation's items, from the session's memory of the instrument.
    void RebuildWorkstation(std::vector<bq::PlacedItem>* items) const;
    void MarkDirty(const QObject* viewKey);
    void Remove(const QObject* window);
    void ScheduleChanged();
    void UpdateWorkstationView();

    std::vector<std::unique_ptr<Source>> m_sources;  // the Workstation's first, when it has one
    QPointer<CWSFrame> m_wsFrame;
    std::unique_ptr<Source> m_workstation;
    std::uint32_t m_nextId = 1;
    std::uint64_t m_nextGeneration = 1;
    std::unique_ptr<bq::RecordIndex> m_index;
    bool m_changePosted = false;
};
