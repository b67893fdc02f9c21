#pragma once

// Mouse and key input the way the window system delivers it: QTest events sent to the QWindow
// of a widget's top-level window, so that Qt picks the receiving widget itself (the pressed
// widget keeps the pointer while a button is held, a widget grab takes everything). Points are
// global, so one gesture can cross from one widget or MDI window to another.

#include <QPointer>
#include <QTest>
#include <QTreeWidget>
#include <QWidget>
#include <QWindow>

namespace bq::test {

class WindowInput {
public:
    // Input for the top-level window that holds `widget`.
    explicit WindowInput(QWidget* widget) : m_widget(widget->window()) {}
    WindowInput(const WindowInput&) = delete;
    WindowInput& operator=(const WindowInput&) = delete;
    // A test that stopped half-way must not leave the next one a held button.
    ~WindowInput() {
        if (m_leftDown && m_widget != nullptr && Window() != nullptr) {
            Release(m_lastGlobal);
        }
    }

    QWindow* Window() const { return m_widget->windowHandle(); }

    void Press(QPoint global) {
        m_leftDown = true;
        m_lastGlobal = global;
        QTest::mousePress(Window(), Qt::LeftButton, {}, Local(global));
    }
    // With the buttons QTest holds; a move to the point the pointer is already at is dropped
    // by Qt, as a real one would be.
    void Move(QPoint global) {
        m_lastGlobal = global;
        QTest::mouseMove(Window(), Local(global));
    }
    void Release(QPoint global) {
        m_leftDown = false;
        m_lastGlobal = global;
        QTest::mouseRelease(Window(), Qt::LeftButton, {}, Local(global));
    }
    void Click(QPoint global) {
        Press(global);
        Release(global);
    }
    // A move that says no button is held although no release came: the release went
    // elsewhere (another application, a window manager that took the pointer).
    void MoveWithoutButtons(QPoint global) {
        m_leftDown = false;
        m_lastGlobal = global;
        QTestPrivate::qtestMouseButtons = Qt::NoButton;  // what QTest sends from now on
        QTest::lastMouseTimestamp += 1;
        qt_handleMouseEvent(Window(), Local(global), global, Qt::NoButton, Qt::NoButton,
                            QEvent::MouseMove, Qt::NoModifier, QTest::lastMouseTimestamp);
        qApp->processEvents();
    }
    void Key(Qt::Key key) { QTest::keyClick(Window(), key); }

    // Where the centre of a tree item is on the screen.
    static QPoint ItemCentre(QTreeWidget* tree, QTreeWidgetItem* item) {
        return tree->viewport()->mapToGlobal(tree->visualItemRect(item).center());
    }

private:
    QPoint Local(QPoint global) const { return Window()->mapFromGlobal(global); }

    QPointer<QWidget> m_widget;
    bool m_leftDown = false;
    QPoint m_lastGlobal;
};

}  // namespace bq::test
