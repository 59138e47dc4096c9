#include "ui/LoginItem.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <filesystem>
#include <system_error>

namespace fernhollow {
namespace {

// A session skips an entry marked Hidden, and GNOME one whose X-GNOME-Autostart-enabled is
// false: either way the user turned it off, perhaps in the desktop's own settings.
bool isHidden(QFile& entry) {
    bool inMainGroup = false;
    while (!entry.atEnd()) {
        const QByteArray line = entry.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inMainGroup || equals < 0) {
            continue;
        }
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return true;
        }
    }
    return false;
}

// The path as one quoted argument, then written as a desktop file's string value: its
// backslashes are unescaped before the quotes are read, and a lone "%" would start a field
// code. So any path the executable may live at, with spaces, quotes, "$" and all, runs as is.
QString execValue(const QString& executable) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : executable) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
            quoted += u'\\';
        }
        quoted += c;
    }
    quoted += u'"';

    QString value;
    for (const QChar c : quoted) {
        if (c == u'\\') {
            value += QLatin1String("\\\\");
        } else if (c == u'\n') {
            value += QLatin1String("\\n");
        } else if (c == u'\t') {
            value += QLatin1String("\\t");
        } else if (c == u'\r') {
            value += QLatin1String("\\r");
        } else if (c == u'%') {
            value += QLatin1String("%%");
        } else {
            value += c;
        }
    }
    return value;
}

QByteArray entryText(const QString& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Fernhollow\n"
           "Comment=API-equivalent spend of your AI coding agents\n"
           "Exec=" +
           execValue(executable).toUtf8() +
           "\n"
           "Icon=fernhollow\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

} // namespace

LoginItem::LoginItem(QString entryPath, QString executable)
    : entryPath_(std::move(entryPath)), executable_(std::move(executable)) {}

LoginItem LoginItem::forThisUser() {
    const QString autostart =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1String("/autostart");
    return LoginItem(autostart + QLatin1String("/fernhollow.desktop"),
                     QCoreApplication::applicationFilePath());
}

LoginItem::Status LoginItem::status() const {
    const QFileInfo program(executable_);
    if (!program.isFile() || !program.isExecutable()) {
        return Status::notFound;
    }
    // An entry the session cannot read starts nothing either.
    QFile entry(entryPath_);
    if (!entry.open(QIODevice::ReadOnly)) {
        return Status::notRegistered;
    }
    return isHidden(entry) ? Status::notRegistered : Status::enabled;
}

std::optional<QString> LoginItem::set(bool enabled) const {
    const Status current = status();
    if (enabled == (current == Status::enabled)) {
        return std::nullopt;
    }
    if (!enabled) {
        return removeEntry();
    }
    if (current == Status::notFound) {
        return QStringLiteral("Could not find the Fernhollow program to start at login.");
    }
    return writeEntry();
}

std::optional<QString> LoginItem::writeEntry() const {
    const QString folder = QFileInfo(entryPath_).absolutePath();
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
    if (error) {
        return QStringLiteral("Could not create %1: %2").arg(folder, QString::fromStdString(error.message()));
    }
    QSaveFile entry(entryPath_);
    if (!entry.open(QIODevice::WriteOnly) || entry.write(entryText(executable_)) < 0 || !entry.commit()) {
        return QStringLiteral("Could not write %1: %2").arg(entryPath_, entry.errorString());
    }
    return std::nullopt;
}

std::optional<QString> LoginItem::removeEntry() const {
    QFile entry(entryPath_);
    if (!entry.remove()) {
        return QStringLiteral("Could not remove %1: %2").arg(entryPath_, entry.errorString());
    }
    return std::nullopt;
}

} // namespace fernhollow
