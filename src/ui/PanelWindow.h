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
// taskbar, and goes away when it loses focus; or, on a desktop without a tray, as an ordinary
// window that its close button hides. Either way its size is fixed, which is what makes
// tiling compositors float it rather than fill the screen with it.
class PanelWindow final : public QObject {
    Q_OBJECT

public:
    PanelWindow(QQmlEngine& engine, PanelModel& model, QObject* parent = nullptr);
    ~PanelWindow() override;

    // From now on an ordinary window, for a desktop that has no tray to anchor it to.
    void becomeWindow();
    // Opens the panel beside `anchor` (the tray icon, in screen coordinates), or at the top
    // right of the screen when the tray does not tell where its icon is; closes it when open.
    void toggle(QRect anchor);
    void show(QRect anchor);
    void hide();
    bool isVisible() const;
    QQuickView& view() { return *view_; }

private:
    void fitContent();
    void place(QRect anchor);
    void placeOnSway();

    PanelModel& model_;
    std::unique_ptr<QQuickView> view_;
    bool window_ = false;
    // A click on the tray icon first takes the focus away from an open panel; that click
    // must close the panel, not reopen it.
    QElapsedTimer hiddenByFocusLoss_;
};

} // namespace fernhollow
