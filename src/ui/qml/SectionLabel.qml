import QtQuick
import QtQuick.Layouts

// A settings section's title with its symbol.
RowLayout {
    property string title
    property string symbol

    spacing: 6
    Symbol { name: parent.symbol; size: 15 }
    Text {
        text: parent.title
        color: Theme.text
        font.pixelSize: Theme.headlineSize
        font.bold: true
    }
}
