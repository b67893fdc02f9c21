// What any Qt Widgets program with the desktop program's main window pays to start: a plain
// QMainWindow of the same size with the same menu bar (menus and items, with their keys), a
// toolbar with two icons cut from the same picture, and a status bar text; shown, ending at its
// first paint. It draws text and icons, so it loads the fonts and the image reader as the
// program does, and nothing of the program itself.
#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QStatusBar>
#include <QToolBar>

#include <initializer_list>
#include <utility>

#include "FirstPaintExit.h"

namespace {

struct Item {
    const char* text;  // null: a separator
    QKeySequence key;
};

void AddMenu(QMainWindow& window, const char* title, std::initializer_list<Item> items) {
    QMenu* menu = window.menuBar()->addMenu(QString::fromLatin1(title));
    for (const Item& item : items) {
        if (item.text == nullptr) {
            menu->addSeparator();
        } else {
            menu->addAction(QString::fromLatin1(item.text))->setShortcut(item.key);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bankquill"));
    AddMenu(window, "&File",
            {{"&Open...\tCtrl+O", QKeySequence(Qt::CTRL | Qt::Key_O)},
             {"&Back Up Workstation...\tCtrl+B", QKeySequence(Qt::CTRL | Qt::Key_B)},
             {"&Export List...", {}},
             {nullptr, {}},
             {"Recent File", {}},
             {nullptr, {}},
             {"E&xit", {}}});
    AddMenu(window, "&Edit",
            {{"&Undo\tCtrl+Z", QKeySequence(Qt::CTRL | Qt::Key_Z)},
             {"&Redo\tCtrl+Shift+Z", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
             {nullptr, {}},
             {"&Find...\tCtrl+F", QKeySequence(Qt::CTRL | Qt::Key_F)}});
    AddMenu(window, "&View", {{"&Workstation\tCtrl+W", QKeySequence(Qt::CTRL | Qt::Key_W)}});
    AddMenu(window, "&Bank", {{"&Initialise", {}}});
    AddMenu(window, "&Program", {{"&Initialise", {}}});
    AddMenu(window, "&Combination", {{"&Initialise", {}}});
    AddMenu(window, "&Tools",
            {{"&Options...", {}},
             {nullptr, {}},
             {"Compare With &Workstation", {}},
             {"C&lear Comparison", {}}});
    AddMenu(window, "&Window", {{"&Close All", {}}});
    AddMenu(window, "&Help", {{"&About...", {}}});

    const QPixmap strip(QStringLiteral(":/res/images/toolbar.xpm"));
    QToolBar* bar = window.addToolBar(QStringLiteral("Standard"));
    bar->setIconSize(QSize(16, 15));
    bar->addAction(QIcon(strip.copy(0, 0, 16, 15)), QStringLiteral("Open"));
    bar->addAction(QIcon(strip.copy(16, 0, 16, 15)), QStringLiteral("About"));
    window.statusBar()->showMessage(QStringLiteral("Ready"));

    window.resize(1000, 700);
    window.show();
    bench::FirstPaintExit exitAtPaint(&window);
    return QApplication::exec();
}
