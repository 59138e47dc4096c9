#include "ui/PanelWindow.h"

#include "ui/PanelModel.h"
#include "ui/SwayIpc.h"
#include "ui/SwayPanelPlacement.h"
#include "ui/Views.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QQuickItem>
#include <QScreen>
#include <QtMath>

namespace fernhollow {
namespace {

constexpr int screenMargin = 6;
constexpr qint64 reopenGuardMs = 400;

bool onWayland() {
    return QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
}

void moveFocusedPanelOnSway(const QString& socket, QSize size) {
    using SwayIpc::Message;
    const auto workspaces = SwayIpc::request(socket, Message::getWorkspaces);
    const auto outputs = SwayIpc::request(socket, Message::getOutputs);
    if (!workspaces || !outputs) {
        return;
    }
    if (const auto command =
            SwayPanelPlacement::command(*workspaces, *outputs, size, QCoreApplication::applicationPid())) {
        SwayIpc::request(socket, Message::runCommand, command->toUtf8());
    }
}

} // namespace

PanelWindow::PanelWindow(QQmlEngine& engine, PanelModel& model, QObject* parent)
    : QObject(parent), model_(model),
      view_(Views::createView(
          engine, QStringLiteral("MenuBarView"),
          {{QStringLiteral("panel"), QVariant::fromValue(static_cast<QObject*>(&model))}})) {
    view_->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    view_->setTitle(QStringLiteral("Fernhollow"));
    // A view that failed to load (release builds only) has no content to fit.
    if (const QQuickItem* root = view_->rootObject()) {
        connect(root, &QQuickItem::widthChanged, this, &PanelWindow::fitContent);
        connect(root, &QQuickItem::heightChanged, this, &PanelWindow::fitContent);
        fitContent();
    }
    connect(view_.get(), &QWindow::activeChanged, this, [this] {
        if (window_) {
            return;
        }
        if (view_->isActive()) {
            placeOnSway();
        } else if (view_->isVisible()) {
            hiddenByFocusLoss_.start();
            hide();
        }
    });
    // The window's close button hides it like any other way of closing.
    connect(view_.get(), &QWindow::visibleChanged, this, [this](bool visible) {
        if (!visible) {
            model_.setShown(false);
        }
    });
}

PanelWindow::~PanelWindow() = default;

void PanelWindow::becomeWindow() {
    window_ = true;
    view_->setFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                    Qt::WindowMinimizeButtonHint);
}

bool PanelWindow::isVisible() const {
    return view_->isVisible();
}

void PanelWindow::toggle(QRect anchor) {
    if (view_->isVisible()) {
        hide();
    } else if (!hiddenByFocusLoss_.isValid() || hiddenByFocusLoss_.elapsed() > reopenGuardMs) {
        show(anchor);
    }
}

void PanelWindow::show(QRect anchor) {
    model_.setShown(true);
    if (!window_) {
        place(anchor);
    }
    view_->show();
    view_->raise();
    view_->requestActivate();
}

void PanelWindow::hide() {
    view_->hide();
}

// The panel's content grows and shrinks with the data; the window's fixed size follows it,
// freed first since the view cannot grow past the size it was held to.
void PanelWindow::fitContent() {
    const QQuickItem* root = view_->rootObject();
    const QSize size(qCeil(root->width()), qCeil(root->height()));
    view_->setMinimumSize(QSize());
    view_->setMaximumSize(size);
    view_->setMinimumSize(size);
    view_->resize(size);
}

// Below an icon in the top half of the screen, above one in the bottom half, kept on screen.
void PanelWindow::place(QRect anchor) {
    QScreen* screen = anchor.isValid() ? QGuiApplication::screenAt(anchor.center()) : nullptr;
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect area = screen->availableGeometry();
    const QSize size = view_->size();
    QPoint at;
    if (anchor.isValid()) {
        const bool below = anchor.center().y() < area.center().y();
        at = QPoint(anchor.center().x() - size.width() / 2,
                    below ? anchor.bottom() + screenMargin : anchor.top() - screenMargin - size.height());
    } else {
        at = QPoint(area.right() - size.width() - screenMargin, area.top() + screenMargin);
    }
    at.setX(std::clamp(at.x(), area.left() + screenMargin,
                       std::max(area.left(), area.right() - size.width() - screenMargin)));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - size.height())));
    view_->setScreen(screen);
    view_->setPosition(at);
}

// Wayland ignores the position asked for above; sway alone lets a client place a window,
// through its IPC, once the window is there and focused.
void PanelWindow::placeOnSway() {
    const QString socket = SwayIpc::socketPath();
    if (onWayland() && !socket.isEmpty()) {
        moveFocusedPanelOnSway(socket, view_->size());
    }
}

} // namespace fernhollow
