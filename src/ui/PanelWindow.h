#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QQuickView>
#include <QRect>

#include <memory>

class QQmlEngine;

namespace fernhollow {

class PanelModel;

// The panel as a frameless window that drops down next to the tray icon, stays out of the
// taskbar, and goes away when it loses focus.
class PanelWindow final : public QObject {
    Q_OBJECT

public:
    PanelWindow(QQmlEngine& engine, PanelModel& model, QObject* parent = nullptr);
    ~PanelWindow() override;

    // Opens the panel beside `anchor` (the tray icon, in screen coordinates), or at the top
    // right of the screen when the tray does not tell where its icon is; closes it when open.
    void toggle(QRect anchor);
    void show(QRect anchor);
    void hide();
    bool isVisible() const;
    QQuickView& view() { return *view_; }

private:
    void place(QRect anchor);

    PanelModel& model_;
    std::unique_ptr<QQuickView> view_;
    // A click on the tray icon first takes the focus away from an open panel; that click
    // must close the panel, not reopen it.
    QElapsedTimer hiddenByFocusLoss_;
};

} // namespace fernhollow
