#include "shell/ItemPanes.h"

#include <algorithm>

#include "banktree/BankTreeView.h"
#include "banktree/ItemPane.h"
#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "model/KarmaObject.h"
#include "shell/Comparison.h"
#include "shell/ItemSources.h"
#include "workstation/WSFrame.h"

CItemPanes::CItemPanes(CItemSources& sources, CComparisons& comparisons, QObject* parent)
    : QObject(parent), m_sources(sources), m_comparisons(comparisons) {
    connect(&m_sources, &CItemSources::Changed, this, &CItemPanes::RefreshAll);
    connect(&m_comparisons, &CComparisons::Marked, this, &CItemPanes::RefreshAll);
}

CItemPanes::~CItemPanes() = default;

void CItemPanes::SetWorkstation(CWSFrame* frame) {
    m_wsFrame = frame;
    LinkWorkstation();
}

void CItemPanes::LinkWorkstation() {
    if (m_wsFrame == nullptr) {
        return;
    }
    auto* view = qobject_cast<CBankTreeView*>(m_wsFrame->BankView());
    CItemPane* pane = m_wsFrame->SecondView();
    if (view == nullptr || pane == nullptr) {
        return;
    }
    const bool linked = std::any_of(m_links.begin(), m_links.end(), [&](const auto& link) {
        return link->view == view && link->pane == pane;
    });
    if (!linked) {
        Link(view, pane);
    }
}

void CItemPanes::Link(CBankTreeView* view, CItemPane* pane) {
    auto link = std::make_unique<Linked>();
    link->view = view;
    link->pane = pane;
    Linked* raw = link.get();
    m_links.push_back(std::move(link));
    connect(view, &QTreeWidget::currentItemChanged, this, [this, raw] { Refresh(*raw); });
    connect(pane, &CItemPane::PlaceActivated, this, [this, raw](int index) { GoTo(raw, index); });
    Refresh(*raw);
}

void CItemPanes::RefreshAll() {
    std::erase_if(m_links, [this](const auto& link) {
        const bool gone = link->view == nullptr || link->pane == nullptr;
        if (gone && link->view != nullptr) {
            disconnect(link->view, nullptr, this, nullptr);
        }
        if (gone && link->pane != nullptr) {
            disconnect(link->pane, nullptr, this, nullptr);
        }
        return gone;
    });
    LinkWorkstation();
    for (const auto& link : m_links) {
        Refresh(*link);
    }
}

void CItemPanes::Refresh(Linked& link) {
    CBankTreeView* view = link.view;
    CItemPane* pane = link.pane;
    if (view == nullptr || pane == nullptr) {
        return;
    }
    link.places.clear();
    QTreeWidgetItem* node = view->currentItem();
    const CBankItemData* record = view->GetItemRecord(node);
    int image = -1;
    CItemSources::Source* source = record != nullptr ? m_sources.OfView(view) : nullptr;
    if (source == nullptr || !view->GetItemImage(node, &image)) {
        pane->ShowNothing();
        return;
    }
    const auto kind =
        image == IMAGE_COMBINATION ? bq::ItemKind::Combination : bq::ItemKind::Program;
    const std::size_t index = source->catalog.IndexOf(kind, record->GetBank(), record->GetSlot());
    if (index == bq::ItemCatalog::npos) {
        pane->ShowNothing();
        return;
    }
    const bq::ItemCatalog::Entry& entry = source->catalog.At(index);
    // Held here: Where() brings every catalogue up to date, which may make this one anew.
    const auto item = bq::Ref<CKarmaObject>::Share(&source->catalog.Item(index));
    pane->ShowItem({QString::fromLatin1(entry.name, entry.nameLength), bq::KindText(kind),
                    CItemSources::BankText(kind, entry.bank),
                    QString::fromStdString(bq::SlotText(entry.slot)), item.get()});
    pane->SetStatus(m_comparisons.StatusOf(view, index));

    const std::uint32_t own = source->id;
    QStringList texts;
    for (const CItemSources::Place& p : m_sources.Where(*item)) {
        if (p.source->id == own && p.index == index) {
            continue;
        }
        const bq::ItemCatalog::Entry& e = p.source->catalog.At(p.index);
        texts << bq::FormatText(bq::LoadString(bq::StringId::PlaceInWindow),
                                {p.source->name, CItemSources::PlaceText(e)});
        link.places.push_back({p.source->id, e.kind, e.bank, e.slot});
    }
    pane->SetPlaces(texts);
}

void CItemPanes::GoTo(const Linked* link, int index) {
    const auto it = std::find_if(m_links.begin(), m_links.end(),
                                 [link](const auto& l) { return l.get() == link; });
    if (it == m_links.end() || index < 0 || index >= static_cast<int>(link->places.size())) {
        return;
    }
    const Place place = link->places[static_cast<std::size_t>(index)];
    CItemSources::Source* source = m_sources.OfId(place.source);
    if (source == nullptr) {
        return;
    }
    const std::size_t at = source->catalog.IndexOf(place.kind, place.bank, place.slot);
    if (at != bq::ItemCatalog::npos) {
        m_sources.Select(*source, at);
    }
}
