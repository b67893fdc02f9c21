#include "shell/ItemPanes.h"

#include <algorithm>

#include "banktree/BankTreeView.h"
#include "banktree/ItemPane.h"
#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "model/KarmaObject.h"
#include "model/ProgramUsers.h"
#include "model/Timbres.h"
#include "shell/Comparison.h"
#include "shell/ItemSources.h"
#include "workstation/WSFrame.h"
#include "workstation/WSMemory.h"
#include "workstation/WSSession.h"

namespace {

QString StatusText(bq::TimbreStatus status) {
    switch (status) {
        case bq::TimbreStatus::Int:
            return bq::LoadString(bq::StringId::TimbreInt);
        case bq::TimbreStatus::Off:
            return bq::LoadString(bq::StringId::TimbreOff);
        case bq::TimbreStatus::Both:
            return bq::LoadString(bq::StringId::TimbreBoth);
        case bq::TimbreStatus::Ext:
            return bq::LoadString(bq::StringId::TimbreExt);
        case bq::TimbreStatus::Ex2:
            return bq::LoadString(bq::StringId::TimbreEx2);
        case bq::TimbreStatus::Unknown:
            break;
    }
    return bq::LoadString(bq::StringId::TimbreUnknown);
}

QString ChannelText(std::uint8_t channel) {
    if (channel == bq::kGlobalChannel) {
        return bq::LoadString(bq::StringId::TimbreChannelGlobal);
    }
    return channel < bq::kGlobalChannel ? QString::number(channel + 1)
                                        : bq::LoadString(bq::StringId::TimbreUnknown);
}

QString NoteText(std::uint8_t note) {
    const std::string name = bq::NoteName(note);
    return name.empty() ? bq::LoadString(bq::StringId::TimbreUnknown)
                        : QString::fromStdString(name);
}

QString RangeText(const QString& low, const QString& high) {
    return bq::FormatText(bq::LoadString(bq::StringId::TimbreRange), {low, high});
}

// "A 003", as the trees number a slot in its bank.
QString PlaceText(const bq::ItemCatalog::Entry& entry) {
    return QString(QLatin1Char(bq::BankLetter(entry.bank))) + QLatin1Char(' ') +
           QString::fromStdString(bq::SlotText(entry.slot));
}

QString NameOf(const bq::ItemCatalog::Entry& entry) {
    return QString::fromLatin1(entry.name, entry.nameLength);
}

}  // namespace

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
    connect(pane, &CItemPane::PlaceActivated, this,
            [this, raw](int index) { GoTo(raw, &Linked::places, index); });
    connect(pane, &CItemPane::TimbreActivated, this,
            [this, raw](int row) { GoTo(raw, &Linked::timbres, row); });
    connect(pane, &CItemPane::UserActivated, this,
            [this, raw](int index) { GoTo(raw, &Linked::users, index); });
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
    link.timbres.clear();
    link.users.clear();
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
    // Before Where(), which may make the catalogue anew.
    if (kind == bq::ItemKind::Combination) {
        ShowTimbres(link, *source, *item);
    } else {
        ShowUsers(link, *source, index);
    }

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

bool CItemPanes::IsWorkstation(const CItemSources::Source& source) const {
    return m_wsFrame != nullptr && source.window.data() == m_wsFrame.data();
}

void CItemPanes::ShowTimbres(Linked& link, CItemSources::Source& source, const CKarmaObject& item) {
    const bq::ItemCatalog& catalog = source.catalog;
    const bool workstation = IsWorkstation(source);
    std::vector<CTimbreList::Row> rows;
    for (const bq::Timbre& t : bq::ReadTimbres(item)) {
        CTimbreList::Row row;
        row.number = QString::number(t.number);
        row.status = StatusText(t.status);
        row.channel = ChannelText(t.channel);
        row.keys = RangeText(NoteText(t.bottomKey), NoteText(t.topKey));
        row.velocity = RangeText(QString::number(t.bottomVelocity), QString::number(t.topVelocity));
        const QString ref =
            QString::fromStdString(bq::ProgramRefText({t.programBank, t.programSlot}));
        Place target{source.id, bq::ItemKind::Program, -1, -1};
        if (t.bankKind == bq::ProgramBankKind::Gm) {
            // The instrument's own, in no file and no bank it sends: named by number.
            row.program = ref;
        } else if (const std::size_t at =
                       catalog.IndexOf(bq::ItemKind::Program, t.programBank, t.programSlot);
                   at != bq::ItemCatalog::npos) {
            row.program = bq::FormatText(bq::LoadString(bq::StringId::TimbreProgram),
                                         {ref, NameOf(catalog.At(at))});
            row.linked = true;
            target.bank = t.programBank;
            target.slot = t.programSlot;
        } else {
            bq::StringId missing = bq::StringId::TimbreProgramNotInFile;
            if (workstation) {
                missing = m_wsFrame->Session().Memory().HasBank(false, t.programBank)
                              ? bq::StringId::TimbreProgramNotKnown
                              : bq::StringId::TimbreProgramNotDownloaded;
            }
            row.program = bq::FormatText(bq::LoadString(missing), {ref});
        }
        row.dim =
            !t.PlaysInternalProgram() || (t.bankKind != bq::ProgramBankKind::Gm && !row.linked);
        rows.push_back(std::move(row));
        link.timbres.push_back(target);
    }
    link.pane->SetTimbres(rows);
}

void CItemPanes::ShowUsers(Linked& link, CItemSources::Source& source, std::size_t index) {
    const bq::ItemCatalog& catalog = source.catalog;
    const bq::ItemCatalog::Entry& program = catalog.At(index);
    QStringList texts;
    for (const bq::ProgramUser& user : bq::ProgramUsers(catalog, program.bank, program.slot)) {
        QStringList numbers;
        for (int t = 0; t < bq::kTimbres; ++t) {
            if ((user.timbres >> t) & 1) {
                numbers << QString::number(t + 1);
            }
        }
        const bq::ItemCatalog::Entry& entry = catalog.At(user.index);
        texts << bq::FormatText(
            bq::LoadString(numbers.size() == 1 ? bq::StringId::UsedByOneTimbre
                                               : bq::StringId::UsedByTimbres),
            {PlaceText(entry), NameOf(entry), numbers.join(QStringLiteral(", "))});
        link.users.push_back({source.id, bq::ItemKind::Combination, entry.bank, entry.slot});
    }
    link.pane->SetUsers(texts,
                        bq::LoadString(IsWorkstation(source) ? bq::StringId::UsedByNoneDownloaded
                                                             : bq::StringId::UsedByNoneInFile));
}

void CItemPanes::GoTo(const Linked* link, const std::vector<Place> Linked::*list, int index) {
    const auto it = std::find_if(m_links.begin(), m_links.end(),
                                 [link](const auto& l) { return l.get() == link; });
    if (it == m_links.end() || index < 0 || index >= static_cast<int>((link->*list).size())) {
        return;
    }
    const Place place = (link->*list)[static_cast<std::size_t>(index)];
    if (place.bank < 0) {
        return;
    }
    CItemSources::Source* source = m_sources.OfId(place.source);
    if (source == nullptr) {
        return;
    }
    const std::size_t at = source->catalog.IndexOf(place.kind, place.bank, place.slot);
    if (at != bq::ItemCatalog::npos) {
        m_sources.Select(*source, at);
    }
}
