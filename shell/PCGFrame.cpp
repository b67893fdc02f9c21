#include "shell/PCGFrame.h"

#include <QCloseEvent>
#include <QFile>
#include <QSplitter>

#include <algorithm>
#include <utility>

#include "banktree/BankTreeView.h"
#include "banktree/ItemPane.h"
#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "model/KorgPCGFile.h"
#include "shell/PCGBankView.h"

namespace {
constexpr int kBankViewWidth = 250;
constexpr int kOtherViewWidth = 100;
// What the second pane gets beyond its own width when the window opens.
constexpr int kExtraWidth = 250;
}  // namespace

CPCGFrame::CPCGFrame(std::unique_ptr<CKorgPCGFile> file, QWidget* parent)
    : QMdiSubWindow(parent), m_pFile(std::move(file)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(SharedIcon(QStringLiteral(":/res/images/pcgfile.xpm")));

    m_splitter = std::make_unique<QSplitter>(Qt::Horizontal);
    m_bankView = new CPCGBankView(m_pFile->GetRootContainer(), m_splitter.get());
    m_otherView = new CItemPane(m_splitter.get());
    m_splitter->addWidget(m_bankView);
    m_splitter->addWidget(m_otherView);
    // The left pane keeps its width; the right one takes what the window adds.
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({kBankViewWidth, kOtherViewWidth});
    setWidget(m_splitter.get());

    const char* path = m_pFile->GetPath();
    m_pendingTitle = bq::FormatText(bq::LoadString(bq::StringId::PcgWindowTitle),
                                    {QFile::decodeName(path != nullptr ? path : "")});
}

QSize CPCGFrame::sizeHint() const {
    // Known only once the window is in its MDI area: the title bar and borders around the
    // panes, and the panes at their opening size.
    QSize hint = QMdiSubWindow::sizeHint();
    if (!m_splitter) {
        return hint;  // the views are gone with it
    }
    const QSize panes = m_splitter->sizeHint();
    hint.setHeight(hint.height() - panes.height() + TreeHeightForRows(*m_bankView, kOpeningRows));
    hint.setWidth(std::max(hint.width(), hint.width() - panes.width() + kBankViewWidth +
                                             kOtherViewWidth + kExtraWidth));
    return hint;
}

void CPCGFrame::closeEvent(QCloseEvent* event) {
    // A Combination dragged from here may be on its way to the instrument, the drop waiting in
    // a nested event loop with this window's item in hand: the window stays until it is done.
    if (m_bankView != nullptr && m_bankView->IsDropping()) {
        event->ignore();
        return;
    }
    QMdiSubWindow::closeEvent(event);
}

void CPCGFrame::showEvent(QShowEvent* event) {
    // An MDI window elides its title afresh (shaping the whole path) each time it measures its
    // title bar, well over a hundred times while it is placed, sized and shown: the title goes
    // on once that is done, still before the first paint.
    QMdiSubWindow::showEvent(event);
    if (!m_pendingTitle.isNull()) {
        setWindowTitle(std::exchange(m_pendingTitle, QString()));
    }
}

CPCGFrame::~CPCGFrame() {
    // The views release their items before the file deletes its banks.
    m_splitter.reset();
}
