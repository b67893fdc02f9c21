#include "shell/ItemSources.h"

#include <QEvent>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTreeWidgetItemIterator>

#include <algorithm>

#include "banktree/BankTreeView.h"
#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "model/SameSound.h"
#include "workstation/WSBankView.h"
#include "workstation/WSFrame.h"
#include "workstation/WSMemory.h"
#include "workstation/WSSession.h"

namespace {

constexpr long kMossBank = 5;

}  // namespace

CItemSources::CItemSources(QObject* parent)
    : QObject(parent), m_index(std::make_unique<bq::RecordIndex>()) {}

CItemSources::~CItemSources() {
    if (m_wsFrame != nullptr) {
        m_wsFrame->removeEventFilter(this);
    }
}

void CItemSources::AddWindow(QMdiSubWindow* window, CBankTreeView* view, const QString& name) {
    auto source = std::make_unique<Source>();
    source->id = m_nextId++;
    source->window = window;
    source->windowKey = window;
    source->view = view;
    source->name = name;
    Watch(*source);
    connect(window, &QObject::destroyed, this, [this](QObject* gone) { Remove(gone); });
    m_sources.push_back(std::move(source));
    ScheduleChanged();
}

void CItemSources::SetWorkstation(CWSFrame* frame) {
    if (m_wsFrame != nullptr) {
        m_wsFrame->removeEventFilter(this);
    }
    m_wsFrame = frame;
    m_workstation.reset();
    if (frame != nullptr) {
        // Showing and hiding it adds its banks to what is open, or takes them away.
        frame->installEventFilter(this);
    }
    ScheduleChanged();
}

bool CItemSources::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_wsFrame && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        ScheduleChanged();
    }
    return QObject::eventFilter(watched, event);
}

void CItemSources::Watch(Source& source) {
    QAbstractItemModel* model = source.view != nullptr ? source.view->model() : nullptr;
    if (model == nullptr) {
        return;
    }
    const QObject* view = source.view.get();
    source.viewKey = view;
    auto dirty = [this, view] { MarkDirty(view); };
    connect(model, &QAbstractItemModel::rowsInserted, this, dirty);
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, dirty);
    connect(model, &QAbstractItemModel::rowsMoved, this, dirty);
    connect(model, &QAbstractItemModel::modelReset, this, dirty);
    connect(model, &QAbstractItemModel::layoutChanged, this, dirty);
    // Texts only: fonts (a drag's bold), colours and tips are the views' own business.
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this, view](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
                if (roles.isEmpty() || roles.contains(Qt::DisplayRole)) {
                    MarkDirty(view);
                }
            });
}

void CItemSources::MarkDirty(const QObject* viewKey) {
    if (m_workstation != nullptr && m_workstation->viewKey == viewKey) {
        m_workstation->dirty = true;
    }
    for (const auto& source : m_sources) {
        if (source->viewKey == viewKey) {
            source->dirty = true;
        }
    }
    ScheduleChanged();
}

void CItemSources::Remove(const QObject* window) {
    for (auto it = m_sources.begin(); it != m_sources.end(); ++it) {
        // Compared by address: the window is part way through its destruction.
        if ((*it)->windowKey == window) {
            m_index->Remove((*it)->id);
            m_sources.erase(it);
            ScheduleChanged();
            return;
        }
    }
}

void CItemSources::ScheduleChanged() {
    if (m_changePosted) {
        return;
    }
    m_changePosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_changePosted = false;
            Q_EMIT Changed();
        },
        Qt::QueuedConnection);
}

void CItemSources::UpdateWorkstationView() {
    auto* view =
        m_wsFrame != nullptr ? qobject_cast<CBankTreeView*>(m_wsFrame->BankView()) : nullptr;
    if (m_workstation != nullptr && m_workstation->view == view && view != nullptr) {
        return;
    }
    if (m_workstation != nullptr) {
        if (m_workstation->view != nullptr && m_workstation->view->model() != nullptr) {
            disconnect(m_workstation->view->model(), nullptr, this, nullptr);
        }
        if (m_wsFrame != nullptr) {
            disconnect(&m_wsFrame->Session().Memory(), nullptr, this, nullptr);
        }
        m_index->Remove(m_workstation->id);
        m_workstation.reset();
    }
    if (view == nullptr) {
        return;
    }
    m_workstation = std::make_unique<Source>();
    m_workstation->id = m_nextId++;
    m_workstation->window = m_wsFrame.data();
    m_workstation->view = view;
    m_workstation->viewKey = view;
    m_workstation->name = bq::LoadString(bq::StringId::WorkstationName);
    // What the instrument holds is read from the session's memory of it, never from its tree.
    const CWSMemory* memory = &m_wsFrame->Session().Memory();
    auto dirty = [this] {
        if (m_workstation != nullptr) {
            m_workstation->dirty = true;
        }
        ScheduleChanged();
    };
    connect(memory, &CWSMemory::BankChanged, this, dirty);
    connect(memory, &CWSMemory::SlotChanged, this, dirty);
}

void CItemSources::Update(Source& source) {
    if (!source.dirty) {
        // Records can take another item without a new text (a write of a Combination of the
        // same name): the catalogue holds the items it was made of.
        for (std::size_t i = 0; i < source.records.size(); ++i) {
            if (source.records[i] != nullptr &&
                source.records[i]->GetObject() != &source.catalog.Item(i)) {
                source.dirty = true;
                ScheduleChanged();
                break;
            }
        }
    }
    if (source.dirty) {
        Rebuild(source);
    }
}

void CItemSources::Rebuild(Source& source) {
    struct Found {
        bq::ItemKind kind;
        long bank;
        long slot;
        QTreeWidgetItem* node;
        const CBankItemData* record;
    };
    std::vector<bq::PlacedItem> items;
    std::vector<Found> found;
    if (&source == m_workstation.get()) {
        if (m_wsFrame != nullptr) {
            RebuildWorkstation(&items);
        }
    } else if (CBankTreeView* view = source.view) {
        for (QTreeWidgetItemIterator it(view); *it != nullptr; ++it) {
            int image = -1;
            if (!view->GetItemImage(*it, &image) ||
                (image != IMAGE_PROGRAM && image != IMAGE_COMBINATION)) {
                continue;
            }
            const CBankItemData* record = view->GetItemRecord(*it);
            if (record == nullptr || record->GetObject() == nullptr) {
                continue;
            }
            const auto kind =
                image == IMAGE_COMBINATION ? bq::ItemKind::Combination : bq::ItemKind::Program;
            items.push_back({kind, record->GetBank(), record->GetSlot(),
                             bq::Ref<CKarmaObject>::Share(record->GetObject())});
            found.push_back({kind, record->GetBank(), record->GetSlot(), *it, record});
        }
    }
    source.catalog = bq::ItemCatalog::FromItems(std::move(items));
    source.nodes.assign(source.catalog.Size(), nullptr);
    source.records.assign(source.catalog.Size(), nullptr);
    if (&source == m_workstation.get() && m_wsFrame != nullptr) {
        // The nodes that show the memory's items, for selecting and filtering them.
        auto* view = qobject_cast<CWSBankView*>(source.view);
        for (std::size_t i = 0; i < source.catalog.Size() && view != nullptr; ++i) {
            const bq::ItemCatalog::Entry& entry = source.catalog.At(i);
            QTreeWidgetItem* node =
                view->ItemNode(entry.kind == bq::ItemKind::Combination, entry.bank, entry.slot);
            source.nodes[i] = node;
            source.records[i] = node != nullptr ? view->GetItemRecord(node) : nullptr;
        }
    }
    // Of two nodes for one place the catalogue keeps the later, and so does this.
    for (const Found& f : found) {
        const std::size_t index = source.catalog.IndexOf(f.kind, f.bank, f.slot);
        if (index != bq::ItemCatalog::npos &&
            &source.catalog.Item(index) == f.record->GetObject()) {
            source.nodes[index] = f.node;
            source.records[index] = f.record;
        }
    }
    source.generation = m_nextGeneration++;
    source.dirty = false;
    source.indexed = false;
}

void CItemSources::RebuildWorkstation(std::vector<bq::PlacedItem>* items) const {
    const CWSMemory& memory = m_wsFrame->Session().Memory();
    for (bool combination : {true, false}) {
        for (int bank = 0; bank < CWSMemory::kBanks; ++bank) {
            for (int slot = 0; slot < CWSMemory::kSlots; ++slot) {
                if (CKarmaObject* item = memory.Item(combination, bank, slot)) {
                    items->push_back(
                        {combination ? bq::ItemKind::Combination : bq::ItemKind::Program, bank,
                         slot, bq::Ref<CKarmaObject>::Share(item)});
                }
            }
        }
    }
}

std::vector<CItemSources::Source*> CItemSources::Open() {
    std::vector<Source*> open;
    UpdateWorkstationView();
    if (m_workstation != nullptr && m_wsFrame != nullptr && m_wsFrame->isVisible()) {
        Update(*m_workstation);
        open.push_back(m_workstation.get());
    }
    for (const auto& source : m_sources) {
        if (source->window != nullptr && source->view != nullptr) {
            Update(*source);
            open.push_back(source.get());
        }
    }
    return open;
}

CItemSources::Source* CItemSources::Workstation() {
    UpdateWorkstationView();
    if (m_workstation != nullptr) {
        Update(*m_workstation);
    }
    return m_workstation.get();
}

CItemSources::Source* CItemSources::OfView(const QWidget* view) {
    if (view == nullptr) {
        return nullptr;
    }
    UpdateWorkstationView();
    Source* found = nullptr;
    if (m_workstation != nullptr && m_workstation->view == view) {
        found = m_workstation.get();
    }
    for (const auto& source : m_sources) {
        if (source->view == view) {
            found = source.get();
        }
    }
    if (found != nullptr) {
        Update(*found);
    }
    return found;
}

bool CItemSources::Holds(const QMdiSubWindow* window) const {
    if (window == nullptr) {
        return false;
    }
    if (window == m_wsFrame) {
        return qobject_cast<CBankTreeView*>(m_wsFrame->BankView()) != nullptr;
    }
    return std::any_of(m_sources.begin(), m_sources.end(), [window](const auto& source) {
        return source->window == window && source->view != nullptr;
    });
}

CItemSources::Source* CItemSources::OfWindow(const QMdiSubWindow* window) {
    if (window == nullptr) {
        return nullptr;
    }
    if (window == m_wsFrame) {
        return Workstation();
    }
    for (const auto& source : m_sources) {
        if (source->window == window) {
            return OfView(source->view);
        }
    }
    return nullptr;
}

CItemSources::Source* CItemSources::OfId(std::uint32_t id) {
    UpdateWorkstationView();
    if (m_workstation != nullptr && m_workstation->id == id) {
        Update(*m_workstation);
        return m_workstation.get();
    }
    for (const auto& source : m_sources) {
        if (source->id == id) {
            Update(*source);
            return source.get();
        }
    }
    return nullptr;
}

std::vector<CItemSources::Place> CItemSources::Where(const CKarmaObject& item) {
    const std::vector<Source*> open = Open();
    for (Source* source : open) {
        if (!source->indexed) {
            m_index->Add(source->id, source->catalog);
            source->indexed = true;
        }
    }
    std::vector<Place> places;
    for (const bq::RecordIndex::Place& p : m_index->Where(item)) {
        // The index also holds the Workstation while its window is hidden.
        const auto it = std::find_if(open.begin(), open.end(),
                                     [&p](const Source* s) { return s->id == p.source; });
        if (it != open.end()) {
            places.push_back({*it, p.index});
        }
    }
    return places;
}

bool CItemSources::Select(Source& source, std::size_t index) {
    Update(source);
    QMdiSubWindow* window = source.window;
    CBankTreeView* view = source.view;
    if (index >= source.nodes.size() || window == nullptr || view == nullptr ||
        !window->isVisible() || source.nodes[index] == nullptr) {
        return false;
    }
    QTreeWidgetItem* node = source.nodes[index];
    if (QMdiArea* area = window->mdiArea()) {
        area->setActiveSubWindow(window);
    }
    // The item's bank is loaded (the node exists), so opening it downloads nothing.
    for (QTreeWidgetItem* parent = node->parent(); parent != nullptr; parent = parent->parent()) {
        if (!parent->isExpanded()) {
            parent->setExpanded(true);
        }
    }
    view->setCurrentItem(node);
    view->scrollToItem(node);
    view->setFocus();
    return true;
}

QString CItemSources::BankText(bq::ItemKind kind, long bank) {
    QString text(QLatin1Char(bq::BankLetter(bank)));
    if (kind == bq::ItemKind::Program && bank == kMossBank) {
        text = bq::FormatText(bq::LoadString(bq::StringId::MossBankLetter), {text});
    }
    return text;
}

QString CItemSources::PlaceText(const bq::ItemCatalog::Entry& entry) {
    return bq::FormatText(
        bq::LoadString(bq::StringId::PlaceText),
        {bq::KindText(entry.kind), QString(QLatin1Char(bq::BankLetter(entry.bank))),
         QString::fromStdString(bq::SlotText(entry.slot))});
}

QString CItemSources::FileName(const QString& path) {
    return QFileInfo(path).fileName();
}
