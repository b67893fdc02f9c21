#pragma once

// Keeps each window's item pane showing the item selected in the window's bank tree: what it
// is, where else the same sound is open, how it compares with the instrument, a Combination's
// timbres and the Programs they play, the Combinations that play a Program; and takes a click
// on one of those places or items there. The Programs and Combinations are those of the same
// window's source: the file's, or the instrument's as the session knows it. User-interface
// thread only.

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <vector>

#include "model/ItemCatalog.h"
#include "shell/ItemSources.h"

class CBankTreeView;
class CComparisons;
class CItemPane;
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
        std::vector<Place> places;   // as the pane lists them
        std::vector<Place> timbres;  // by timbre row; bank -1 where the row is no link
        std::vector<Place> users;
    };

    void Refresh(Linked& link);
    // The pane's timbres of a Combination, or users of a Program, of `source`.
    void ShowTimbres(Linked& link, CItemSources::Source& source, const CKarmaObject& item);
    void ShowUsers(Linked& link, CItemSources::Source& source, std::size_t index);
    // Whether the source is the instrument's (read from the session, not from its tree).
    bool IsWorkstation(const CItemSources::Source& source) const;
    void GoTo(const Linked* link, const std::vector<Place> Linked::*list, int index);
    void LinkWorkstation();

    CItemSources& m_sources;
    CComparisons& m_comparisons;
    QPointer<CWSFrame> m_wsFrame;
    std::vector<std::unique_ptr<Linked>> m_links;
};
