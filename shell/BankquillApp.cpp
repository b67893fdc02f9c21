#include "shell/BankquillApp.h"

#include <QApplication>
#include <QFileInfo>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "shell/MainFrame.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

constexpr int kLargeBlockBytes = 64 * 1024;  // and larger: mapped apart from the heap

}  // namespace

CBankquillApp::CBankquillApp(bq::midi::IMidiServices& services) : m_services(services) {}

CBankquillApp::~CBankquillApp() {
    bq::SetMainWindow(nullptr);
}

bool CBankquillApp::InitInstance() {
#if defined(__GLIBC__)
    // A PCG window takes and gives back large blocks: the file, its records, its rows. Each time
    // glibc gives such a block back to the system it raises the size it does that for, and the
    // next ones come from the heap instead, where every window opened and closed leaves the heap
    // a little larger and more broken up. A fixed size keeps large blocks out of the heap.
    ::mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);
#endif
    QApplication::setApplicationName(bq::LoadString(bq::StringId::AppTitle));
    // The desktop entry's name: the window system then shows the entry's icon and name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.bankquill.Bankquill"));
    m_mainFrame = std::make_unique<CMainFrame>(m_services);
    QApplication::setWindowIcon(m_mainFrame->windowIcon());
    bq::SetMainWindow(m_mainFrame.get());
    m_mainFrame->resize(1000, 700);
    m_mainFrame->show();
    return true;
}

void CBankquillApp::OpenFiles(const QStringList& paths) {
    for (const QString& path : paths) {
        // The window's title names the file as the open dialog would: the whole path.
        m_mainFrame->OpenPCGFile(QFileInfo(path).absoluteFilePath());
    }
}
