#pragma once

// The posted messages of the Workstation window, as Qt events. They are posted with
// QCoreApplication::postEvent, which is safe from the MIDI backend's thread.

#include <QEvent>

namespace bq::ws {

// Numbered as the window messages WM_USER + 0 and + 1 they stand for.
// Posted by the window to itself when it is shown: search and connect.
inline constexpr QEvent::Type WM_WS_CONNECT = static_cast<QEvent::Type>(QEvent::User + 0);
// Posted by the input callback when bytes wait in the exchange's inbox.
inline constexpr QEvent::Type WM_WS_SYSEX_CHUNK = static_cast<QEvent::Type>(QEvent::User + 1);

}  // namespace bq::ws
