#pragma once

#include <QString>
#include <QUrl>

#include <ostream>

// Shows Qt's strings and URLs as text in failures; global, where lookup finds them for Qt's types.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QUrl& url, std::ostream* os) {
    *os << url.toString().toStdString();
}
