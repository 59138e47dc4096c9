import QtQuick
import QtQuick.Layouts

// One figure of the summary grid: its label upper-cased, the value, and an optional sub-line.
ColumnLayout {
    property string label
    property string value
    property string subLine
    property bool highlighted: false

    spacing: 1
    Layout.fillWidth: true
    Layout.preferredWidth: 1
    Layout.alignment: Qt.AlignTop

    Caption {
        smallest: true
        text: parent.label.toUpperCase()
    }
    Text {
        objectName: parent.objectName + "Value"
        text: parent.value
        color: Theme.text
        font.family: Theme.monospace
        font.pixelSize: parent.highlighted ? Theme.title3Size : Theme.bodySize
        font.weight: parent.highlighted ? Font.DemiBold : Font.Normal
    }
    Caption {
        objectName: parent.objectName + "Sub"
        smallest: true
        visible: text !== ""
        text: parent.subLine
    }
}
