#include "shell/ComparisonCommands.h"

#include <QAction>
#include <QMdiArea>

#include "messages/StringTable.h"
#include "shell/CommandIds.h"
#include "shell/Commands.h"
#include "shell/Comparison.h"
#include "shell/PCGFrame.h"
#include "shell/WorkstationHost.h"
#include "workstation/WSFrame.h"

CComparisonCommands::CComparisonCommands(CCommands& commands, QMdiArea& area,
                                         CComparisons& comparisons, IWorkstationHost& host)
    : QObject(&commands), m_area(area), m_comparisons(comparisons), m_host(host) {
    m_compare =
        commands.Add(ID_TOOLS_COMPARE_WORKSTATION, bq::LoadString(bq::StringId::CommandCompare), {},
                     [this] { return OnCompare(); });
    m_compare->setStatusTip(bq::LoadString(bq::StringId::ComparePrompt));
    m_clear = commands.Add(ID_TOOLS_CLEAR_COMPARISON,
                           bq::LoadString(bq::StringId::CommandClearComparison), {},
                           [this] { return OnClear(); });
    m_clear->setStatusTip(bq::LoadString(bq::StringId::ClearComparisonPrompt));
    connect(&area, &QMdiArea::subWindowActivated, this, &CComparisonCommands::Update);
    connect(&comparisons, &CComparisons::Marked, this, &CComparisonCommands::Update);
    Update();
}

void CComparisonCommands::Attach(CWSFrame* frame) {
    m_frame = frame;
    if (frame != nullptr) {
        connect(frame, &CWSFrame::BusyChanged, this, &CComparisonCommands::Update);
        connect(frame, &CWSFrame::MIDIStatusChanged, this, &CComparisonCommands::Update);
    }
    Update();
}

CPCGFrame* CComparisonCommands::ActivePCGFrame() const {
    auto* frame = qobject_cast<CPCGFrame*>(m_area.currentSubWindow());
    return frame != nullptr && frame->isVisible() ? frame : nullptr;
}

void CComparisonCommands::Update() {
    CPCGFrame* pcg = ActivePCGFrame();
    const bool busy = m_frame != nullptr && m_frame->IsBusy();
    CCommands::SetEnabled(m_compare, pcg != nullptr && !busy);
    CCommands::SetEnabled(m_clear, pcg != nullptr && m_comparisons.Has(pcg));
}

bool CComparisonCommands::OnCompare() {
    CPCGFrame* frame = ActivePCGFrame();
    if (frame == nullptr || m_host.Workstation()->IsBusy()) {
        return false;
    }
    m_comparisons.Run(frame, m_host.Workstation(), [this] { m_host.ShowWorkstation(); });
    return true;
}

bool CComparisonCommands::OnClear() {
    CPCGFrame* frame = ActivePCGFrame();
    if (frame == nullptr || !m_comparisons.Has(frame)) {
        return false;
    }
    m_comparisons.Clear(frame);
    return true;
}
