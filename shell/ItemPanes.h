#pragma once

// Keeps each window's item pane showing the item selected in the window's bank tree: what it
// is, where else the same sound is open, how it compares with the instrument; and takes a
// click on one of those places there. User-interface thread only.

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <vector>

#include "model/ItemCatalog.h"

class CBankTreeView;
class CComparisons;
class CItemPane;
class CItemSources;
class CWSFrame;

class CItemPanes : public QObject {
    Q_OBJECT
public:
    CItemPanes(CItemSources& sources, CComparisons& comparisons, QObject* parent = nullptr);
    ~CItemPanes() override;

    // `pane` shows the item selected in `view` from now on.
    void Link(CBankTreeView* view, CItemPane* pane);
    // The Workstation window's view and pane, linked once they exist.
    void SetWorkstation(CWSFrame* frame);
    // Every pane anew: the places open have changed.
    void RefreshAll();

private:
    struct Place {
        std::uint32_t source;
        bq::ItemKind kind;
        long bank;
        long slot;
    };
    struct Linked {
        QPointer<CBankTreeView> view;
        QPointer<CItemPane> pane;
        std::vector<Place> places;  // as the pane lists them
    };

    void Refresh(Linked& link);
    void GoTo(const Linked* link, int index);
    void LinkWorkstation();

    CItemSources& m_sources;
    CComparisons& m_comparisons;
    QPointer<CWSFrame> m_wsFrame;
    std::vector<std::unique_ptr<Linked>> m_links;
};
