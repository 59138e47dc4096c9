import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One alert threshold: its label, a step slider bound to the setting, and the percentage.
RowLayout {
    id: row
    property string label
    property string sliderLabel
    property real value
    property real from
    property real to
    property var percentText
    signal moved(real value)

    Layout.fillWidth: true
    spacing: 8
    Text {
        text: row.label
        color: Theme.text
        font.pixelSize: Theme.bodySize
        Layout.preferredWidth: 110
    }
    Slider {
        objectName: row.objectName + "Slider"
        Layout.fillWidth: true
        from: row.from
        to: row.to
        stepSize: 0.05
        snapMode: Slider.SnapAlways
        value: row.value
        Accessible.name: row.sliderLabel
        onMoved: row.moved(value)
    }
    Text {
        objectName: row.objectName + "Percent"
        Layout.preferredWidth: 44
        horizontalAlignment: Text.AlignRight
        text: row.percentText(row.value)
        color: Theme.text
        font.family: Theme.monospace
        font.pixelSize: Theme.bodySize
    }
}
