#pragma once

// Ends a start-up probe as soon as its main window has finished its first paint: the process
// exits there, without tearing anything down, so that the launcher times start-up only.

#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <cstdlib>

namespace bench {

constexpr int kProbeGaveUp = 3;

class FirstPaintExit : public QObject {
public:
    explicit FirstPaintExit(QWidget* window) {
        window->installEventFilter(this);
        // A window that never paints fails the run instead of hanging it.
        QTimer::singleShot(10000, this, [] { std::_Exit(kProbeGaveUp); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            // Zero timer: runs once this paint has been handled and flushed.
            QTimer::singleShot(0, [] { std::_Exit(0); });
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace bench
