import QtQuick
import QtQuick.Controls

// A borderless button that shows only a symbol, with a tooltip.
ToolButton {
    id: button
    property string symbol
    property string tip

    flat: true
    implicitWidth: 24
    implicitHeight: 24
    padding: 4
    contentItem: Symbol {
        name: button.symbol
        size: 16
        tint: button.enabled ? Theme.text : Theme.secondary
    }
    ToolTip.visible: hovered && tip !== ""
    ToolTip.text: tip
    ToolTip.delay: 500
}
