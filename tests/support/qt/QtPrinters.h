#pragma once

// Readable GoogleTest output for Qt strings.

#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& texts, std::ostream* os) {
    *os << '{';
    for (qsizetype i = 0; i < texts.size(); ++i) {
        *os << (i > 0 ? ", " : "") << '"' << texts[i].toStdString() << '"';
    }
    *os << '}';
}
