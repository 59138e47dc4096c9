#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace fernhollow {

// One app per user: the first start listens on a per-user local socket; a later start finds
// it, asks it to open its panel and leaves.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    // `name` identifies the app per user; tests give their own.
    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);

    static QString defaultName();

    // True when another instance took the request to show itself, in which case this process
    // should end; false when this one is now the instance (or none could be reached).
    bool askRunningInstanceToShow();
    // Starts taking requests; false when the socket could not be made.
    bool listen();

signals:
    void showRequested();

private:
    QString name_;
    QLocalServer server_;
};

} // namespace fernhollow
