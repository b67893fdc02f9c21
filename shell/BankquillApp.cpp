#include "shell/BankquillApp.h"

#include <QApplication>
#include <QFileInfo>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "shell/MainFrame.h"

CBankquillApp::CBankquillApp(bq::midi::IMidiServices& services) : m_services(services) {}

CBankquillApp::~CBankquillApp() {
    bq::SetMainWindow(nullptr);
}

bool CBankquillApp::InitInstance() {
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
