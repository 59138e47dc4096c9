#include "ui/SwayPanelPlacement.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>

namespace fernhollow::SwayPanelPlacement {
namespace {

QRect rectOf(const QJsonObject& node) {
    const QJsonObject rect = node.value(QStringLiteral("rect")).toObject();
    return {rect.value(QStringLiteral("x")).toInt(), rect.value(QStringLiteral("y")).toInt(),
            rect.value(QStringLiteral("width")).toInt(), rect.value(QStringLiteral("height")).toInt()};
}

std::optional<QJsonObject> findIn(const QByteArray& reply, const QString& key, const QJsonValue& value) {
    for (const QJsonValue& entry : QJsonDocument::fromJson(reply).array()) {
        if (entry.toObject().value(key) == value) {
            return entry.toObject();
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> command(const QByteArray& workspaces, const QByteArray& outputs, QSize panel,
                               qint64 pid) {
    const auto workspace = findIn(workspaces, QStringLiteral("focused"), true);
    if (!workspace) {
        return std::nullopt;
    }
    const auto output = findIn(outputs, QStringLiteral("name"), workspace->value(QStringLiteral("output")));
    if (!output) {
        return std::nullopt;
    }
    const QRect area = rectOf(*workspace);
    const QRect screen = rectOf(*output);
    if (area.isEmpty()) {
        return std::nullopt;
    }
    const bool barBelow = area.top() == screen.top() && area.bottom() < screen.bottom();
    const int x = std::max(area.left(), area.right() + 1 - panel.width() - margin);
    const int y =
        barBelow ? std::max(area.top(), area.bottom() + 1 - panel.height() - margin) : area.top() + margin;
    return QStringLiteral("[pid=%1 con_id=__focused__] move absolute position %2 %3").arg(pid).arg(x).arg(y);
}

} // namespace fernhollow::SwayPanelPlacement
