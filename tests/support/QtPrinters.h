#pragma once

#include <QString>
#include <QUrl>

#include <ostream>

// Lets GoogleTest show Qt's strings and URLs as text in a failure message, not as bytes. In
// the global namespace, where argument-dependent lookup finds them for Qt's types.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QUrl& url, std::ostream* os) {
    *os << url.toString().toStdString();
}
