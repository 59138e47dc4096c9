import QtQuick
import QtQuick.Layouts

// A name on one line, an optional note after it, then dollars at the trailing edge.
RowLayout {
    property string name
    property string detail
    property string amount

    Layout.fillWidth: true
    Text {
        Layout.fillWidth: parent.detail === ""
        text: parent.name
        elide: Text.ElideRight
        maximumLineCount: 1
        color: Theme.text
        font.pixelSize: Theme.bodySize
    }
    Caption {
        visible: parent.detail !== ""
        Layout.fillWidth: true
        smallest: true
        elide: Text.ElideRight
        text: parent.detail
    }
    Text {
        text: parent.amount
        color: Theme.text
        font.family: Theme.monospace
        font.pixelSize: Theme.bodySize
    }
}
