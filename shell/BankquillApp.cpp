#include "shell/BankquillApp.h"

#include <QApplication>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "shell/MainFrame.h"

CBankquillApp::CBankquillApp(bq::midi::IMidiServices& services) : m_services(services) {}

CBankquillApp::~CBankquillApp() {
    bq::SetMainWindow(nullptr);
}

bool CBankquillApp::InitInstance() {
    QApplication::setApplicationName(bq::LoadString(bq::StringId::AppTitle));
    m_mainFrame = std::make_unique<CMainFrame>(m_services);
    QApplication::setWindowIcon(m_mainFrame->windowIcon());
    bq::SetMainWindow(m_mainFrame.get());
    m_mainFrame->resize(1000, 700);
    m_mainFrame->show();
    return true;
}
