#include "shell/Comparison.h"

#include <QBrush>
#include <QColor>
#include <QCoreApplication>
#include <QLocale>
#include <QMdiArea>
#include <QStringList>
#include <QTreeWidgetItem>

#include <algorithm>
#include <set>
#include <utility>

#include "banktree/ItemPane.h"
#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "midi/KarmaBanks.h"
#include "model/ProgramUsers.h"
#include "model/SameSound.h"
#include "shell/ItemSources.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "workstation/WSBankView.h"
#include "workstation/WSFrame.h"
#include "workstation/WSMessages.h"
#include "workstation/WSSession.h"
#include "workstation/WSTransport.h"

namespace {

const char* const kSame = "#cdeccd";
const char* const kElsewhere = "#fde9a9";
const char* const kMissing = "#f7cccc";
const char* const kProgramsDiffer = "#cfdff7";

using Bank = std::pair<bq::ItemKind, long>;

// "Combination Banks A, B and F, Program Bank C".
QString BankList(const std::vector<Bank>& banks) {
    QStringList parts;
    for (const bq::ItemKind kind : {bq::ItemKind::Combination, bq::ItemKind::Program}) {
        QStringList letters;
        for (const auto& [k, bank] : banks) {
            if (k == kind) {
                letters << CItemSources::BankText(kind, bank);
            }
        }
        if (letters.isEmpty()) {
            continue;
        }
        const QString last = letters.takeLast();
        const QString joined = letters.isEmpty()
                                   ? last
                                   : bq::FormatText(bq::LoadString(bq::StringId::ListLast),
                                                    {letters.join(QStringLiteral(", ")), last});
        parts << bq::FormatText(letters.isEmpty() ? bq::LoadString(bq::StringId::OneBank)
                                                  : bq::LoadString(bq::StringId::SeveralBanks),
                                {bq::KindText(kind), joined});
    }
    return parts.join(QStringLiteral(", "));
}

QString Duration(double seconds) {
    if (seconds < 90) {
        return bq::FormatText(bq::LoadString(bq::StringId::DurationSeconds),
                              {QString::number(static_cast<int>(seconds + 0.5))});
    }
    return bq::FormatText(bq::LoadString(bq::StringId::DurationMinutes),
                          {QString::number(static_cast<int>(seconds / 60 + 0.5))});
}

std::vector<Bank> BanksOf(const bq::ItemCatalog& catalog) {
    std::set<Bank> banks;
    for (std::size_t i = 0; i < catalog.Size(); ++i) {
        banks.insert({catalog.At(i).kind, catalog.At(i).bank});
    }
    return {banks.begin(), banks.end()};
}

bool Connected(CWSFrame* ws) {
    return ws != nullptr && ws->isVisible() && ws->IsConnected();
}

QString NameAt(const bq::ItemCatalog& catalog, std::size_t index) {
    return index == bq::ItemCatalog::npos ? QString()
                                          : QString::fromLatin1(catalog.At(index).name).trimmed();
}

// The tip of a Combination that is the same on the instrument but plays Programs that the
// instrument holds differently: "A 012 : Grand Piano, on the Karma: Organ 3", for each.
QString ProgramsDifferText(const bq::ItemCatalog& file, const bq::ItemCatalog& instrument,
                           const std::vector<bq::ProgramRef>& programs) {
    QStringList lines;
    for (const bq::ProgramRef program : programs) {
        lines << bq::FormatText(bq::LoadString(bq::StringId::ProgramDiffers),
                                {QString::fromStdString(bq::ProgramRefText(program)),
                                 NameAt(file, bq::ProgramIndex(file, program)),
                                 NameAt(instrument, bq::ProgramIndex(instrument, program))});
    }
    return bq::FormatText(bq::LoadString(bq::StringId::CompareProgramsDiffer),
                          {lines.join(QStringLiteral("; "))});
}

QString Swatch(const char* colour) {
    return QStringLiteral("<span style=\"background-color:%1\">&nbsp;&nbsp;&nbsp;&nbsp;</span>")
        .arg(QLatin1String(colour));
}

}  // namespace

CComparisons::CComparisons(CItemSources& sources, QObject* parent)
    : QObject(parent), m_sources(sources) {
    connect(&m_sources, &CItemSources::Changed, this, &CComparisons::Recompute);
}

CComparisons::~CComparisons() = default;

QString CComparisons::SameColour() {
    return QLatin1String(kSame);
}
QString CComparisons::ElsewhereColour() {
    return QLatin1String(kElsewhere);
}
QString CComparisons::MissingColour() {
    return QLatin1String(kMissing);
}
QString CComparisons::ProgramsDifferColour() {
    return QLatin1String(kProgramsDiffer);
}

CComparisons::Marks* CComparisons::Find(const QMdiSubWindow* window) {
    for (Marks& m : m_marks) {
        if (m.frame != nullptr && m.frame == window) {
            return &m;
        }
    }
    return nullptr;
}

bool CComparisons::Has(const QMdiSubWindow* window) const {
    return std::any_of(m_marks.begin(), m_marks.end(), [window](const Marks& m) {
        return m.frame != nullptr && m.frame == window;
    });
}

QString CComparisons::StatusOf(const CBankTreeView* view, std::size_t index) const {
    for (const Marks& m : m_marks) {
        if (m.frame != nullptr && m.frame->BankView() == view && index < m.status.size()) {
            return m.status[index];
        }
    }
    return {};
}

bool CComparisons::Run(CPCGFrame* frame, CWSFrame* workstation,
                       const std::function<void()>& showWorkstation) {
    CItemSources::Source* file = m_sources.OfWindow(frame);
    if (file == nullptr || workstation == nullptr) {
        return false;
    }
    QPointer<CPCGFrame> window(frame);
    QPointer<CWSFrame> ws(workstation);
    const std::vector<Bank> needed = BanksOf(file->catalog);
    // What the instrument holds is taken as known only from this connection's downloads.
    auto missing = [&] {
        std::vector<Bank> banks;
        for (const Bank& bank : needed) {
            if (ws == nullptr || !ws->Session().BankDownloaded(
                                     bank.first == bq::ItemKind::Combination, bank.second)) {
                banks.push_back(bank);
            }
        }
        return banks;
    };

    std::vector<Bank> download = missing();
    if (!download.empty()) {
        double bytes = 0;
        for (const Bank& bank : download) {
            bytes += bank.first == bq::ItemKind::Combination ? CWSBankView::kCombiBankDumpSize
                                                             : CWSBankView::kProgramBankDumpSize;
        }
        const QString question = bq::FormatText(
            bq::LoadString(bq::StringId::CompareQuestion),
            {BankList(download), QLocale(QLocale::English).toString(qRound(bytes / 1000)),
             Duration(bytes / bq::midi::kMidiCableBytesPerSecond),
             bq::LoadString(download.size() == 1 ? bq::StringId::CompareIt
                                                 : bq::StringId::CompareThem)});
        if (bq::ShowMessage(question, bq::MB_YESNO) != bq::IDYES || window == nullptr ||
            ws == nullptr) {
            return false;
        }
        if (!Connected(ws)) {
            // As View Workstation does, searching now; it reports itself when it finds nothing.
            showWorkstation();
            if (ws == nullptr || !ws->ConnectNow() || window == nullptr || !Connected(ws)) {
                return false;
            }
        }
        for (const Bank& bank : missing()) {
            const bool combination = bank.first == bq::ItemKind::Combination;
            const bool stored = ws->Session().DownloadBank(combination, bank.second);
            if (window == nullptr || ws == nullptr) {
                return false;
            }
            if (!stored) {
                // The transfer failed (and said so) or the user stopped waiting for it.
                bq::ShowMessage(bq::FormatText(bq::LoadString(bq::StringId::CompareNotDownloaded),
                                               {BankList({bank})}),
                                bq::MB_ICONERROR);
                return false;
            }
        }
    }
    if (window == nullptr) {
        return false;
    }
    Mark(window);
    if (QMdiArea* area = window->mdiArea()) {
        area->setActiveSubWindow(window);
    }
    return true;
}

void CComparisons::Unmark(Marks& marks) {
    for (QTreeWidgetItem* node : marks.nodes) {
        node->setData(0, Qt::BackgroundRole, QVariant());
        node->setData(0, Qt::ToolTipRole, QVariant());
        node->setData(0, Qt::AccessibleDescriptionRole, QVariant());
    }
    marks.nodes.clear();
    marks.status.clear();
}

void CComparisons::Mark(CPCGFrame* frame) {
    CItemSources::Source* file = m_sources.OfWindow(frame);
    if (file == nullptr) {
        return;
    }
    Marks* marks = Find(frame);
    if (marks == nullptr) {
        m_marks.push_back({});
        marks = &m_marks.back();
        marks->frame = frame;
    } else {
        Unmark(*marks);
    }
    CItemSources::Source* ws = m_sources.Workstation();
    const bq::ItemCatalog none;
    const bq::ItemCatalog& instrument = ws != nullptr ? ws->catalog : none;
    const bq::Comparison comparison = bq::Compare(file->catalog, instrument);

    marks->file = file->id;
    marks->fileGeneration = file->generation;
    marks->workstationGeneration = ws != nullptr ? ws->generation : 0;
    marks->status.assign(file->catalog.Size(), QString());
    std::size_t same = 0;
    std::size_t programsDiffer = 0;
    std::size_t elsewhere = 0;
    std::size_t missing = 0;
    for (const bq::SlotComparison& slot : comparison.slots) {
        if (slot.a == bq::ItemCatalog::npos || file->nodes[slot.a] == nullptr) {
            continue;
        }
        QString text;
        const char* colour = kMissing;
        switch (slot.status) {
            case bq::SlotStatus::Same: {
                // The same Combination sounds the same only with the same Programs.
                const auto differ =
                    file->catalog.At(slot.a).kind == bq::ItemKind::Combination
                        ? bq::DifferingPrograms(file->catalog, slot.a, instrument, true)
                        : std::vector<bq::ProgramRef>();
                if (differ.empty()) {
                    text = bq::LoadString(bq::StringId::CompareSame);
                    colour = kSame;
                    ++same;
                } else {
                    text = ProgramsDifferText(file->catalog, instrument, differ);
                    colour = kProgramsDiffer;
                    ++programsDiffer;
                }
                break;
            }
            case bq::SlotStatus::MovedTo:
                text = bq::FormatText(bq::LoadString(bq::StringId::CompareElsewhere),
                                      {CItemSources::PlaceText(instrument.At(slot.movedTo))});
                colour = kElsewhere;
                ++elsewhere;
                break;
            default:
                text = bq::LoadString(bq::StringId::CompareMissing);
                ++missing;
                break;
        }
        QTreeWidgetItem* node = file->nodes[slot.a];
        node->setData(0, Qt::BackgroundRole, QBrush(QColor(QLatin1String(colour))));
        node->setData(0, Qt::ToolTipRole, text);
        node->setData(0, Qt::AccessibleDescriptionRole, text);
        marks->status[slot.a] = text;
        marks->nodes.push_back(node);
    }

    QStringList banks;
    for (const Bank& bank : BanksOf(instrument)) {
        banks << bq::FormatText(
            bq::LoadString(bq::StringId::KindBank),
            {bq::KindText(bank.first), CItemSources::BankText(bank.first, bank.second)});
    }
    const QLocale english(QLocale::English);
    const QString legend = bq::FormatText(
        bq::LoadString(bq::StringId::CompareLegend),
        {Swatch(kSame), english.toString(static_cast<qulonglong>(same)), Swatch(kProgramsDiffer),
         english.toString(static_cast<qulonglong>(programsDiffer)), Swatch(kElsewhere),
         english.toString(static_cast<qulonglong>(elsewhere)), Swatch(kMissing),
         english.toString(static_cast<qulonglong>(missing)),
         banks.isEmpty() ? bq::LoadString(bq::StringId::CompareNoBanks)
                         : banks.join(QStringLiteral(", "))});
    frame->OtherView()->SetNote(legend);
    Q_EMIT Marked();
}

void CComparisons::Clear(CPCGFrame* frame) {
    Marks* marks = Find(frame);
    if (marks == nullptr) {
        return;
    }
    // The nodes are the file's own, which never change while its window lives.
    Unmark(*marks);
    frame->OtherView()->SetNote(QString());
    m_marks.erase(m_marks.begin() + (marks - m_marks.data()));
    Q_EMIT Marked();
}

void CComparisons::Recompute() {
    // A closed window takes its marks with it.
    std::erase_if(m_marks, [](const Marks& m) { return m.frame == nullptr; });
    CItemSources::Source* ws = m_sources.Workstation();
    const std::uint64_t generation = ws != nullptr ? ws->generation : 0;
    std::vector<CPCGFrame*> stale;
    for (Marks& m : m_marks) {
        CItemSources::Source* file = m_sources.OfWindow(m.frame);
        if (file != nullptr &&
            (m.workstationGeneration != generation || m.fileGeneration != file->generation)) {
            stale.push_back(m.frame);
        }
    }
    for (CPCGFrame* frame : stale) {
        Mark(frame);
    }
}
