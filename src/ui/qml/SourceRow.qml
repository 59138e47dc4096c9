import QtQuick
import QtQuick.Layouts

// One usage source: whether it is connected, its name and a detail line.
RowLayout {
    property bool connected
    property string name
    property string detail
    property color detailColor: Theme.secondary

    spacing: 8
    Layout.fillWidth: true
    Symbol {
        name: parent.connected ? "checkmark.circle.fill" : "circle"
        tint: parent.connected ? Theme.green : Theme.secondary
        size: 16
    }
    ColumnLayout {
        spacing: 1
        Layout.fillWidth: true
        Text { text: name; color: Theme.text; font.pixelSize: Theme.bodySize }
        Caption {
            objectName: parent.parent.objectName + "Detail"
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            color: detailColor
            text: detail
        }
    }
}
