#pragma once

#include <QObject>
#include <QQuickView>

#include <memory>

class QQmlEngine;

namespace fernhollow {

class SettingsModel;

// The settings window: its fields start afresh each time it opens, and "Done" closes it.
class SettingsWindow final : public QObject {
    Q_OBJECT

public:
    SettingsWindow(QQmlEngine& engine, SettingsModel& model, QObject* parent = nullptr);
    ~SettingsWindow() override;

    void open();
    QQuickView& view() { return *view_; }

private:
    void chooseSharedFolder();

    SettingsModel& model_;
    std::unique_ptr<QQuickView> view_;
};

} // namespace fernhollow
