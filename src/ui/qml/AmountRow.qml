import QtQuick
import QtQuick.Layouts

// A name on one line, then dollars at the trailing edge.
RowLayout {
    property string name
    property string amount

    Layout.fillWidth: true
    Text {
        Layout.fillWidth: true
        text: parent.name
        elide: Text.ElideRight
        maximumLineCount: 1
        color: Theme.text
        font.pixelSize: Theme.bodySize
    }
    Text {
        text: parent.amount
        color: Theme.text
        font.family: Theme.monospace
        font.pixelSize: Theme.bodySize
    }
}
