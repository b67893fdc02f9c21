#include "workstation/WSFrame.h"

#include <QCloseEvent>
#include <QHideEvent>
#include <QSplitter>
#include <QTreeView>

#include "ui/messages/StringTable.h"
#include "workstation/WSTransport.h"

namespace {
constexpr int kTitleId = 146;
constexpr int kBankViewWidth = 250;
constexpr int kOtherViewWidth = 100;
}  // namespace

CWSFrame::CWSFrame(bq::midi::IMidiServices& services, QWidget* parent)
    : QMdiSubWindow(parent), m_transport(new CWSTransport(services, this)) {
    setWindowTitle(bq::LoadString(kTitleId));
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_bankView = new QTreeView(m_splitter);
    m_otherView = new QTreeView(m_splitter);
    m_splitter->addWidget(m_bankView);
    m_splitter->addWidget(m_otherView);
    m_splitter->setSizes({kBankViewWidth, kOtherViewWidth});
    setWidget(m_splitter);
    // Lives as long as the main window; closing only hides it.
    setAttribute(Qt::WA_DeleteOnClose, false);
}

CWSFrame::~CWSFrame() {
    ClosePorts();
}

bool CWSFrame::GetMIDIStatusText(QString* text) {
    return m_transport->GetMIDIStatusText(text);
}

bool CWSFrame::ClosePorts() {
    return m_transport->ClosePorts();
}

void CWSFrame::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

void CWSFrame::hideEvent(QHideEvent* event) {
    QMdiSubWindow::hideEvent(event);
    if (!event->spontaneous()) {
        ClosePorts();
    }
}
