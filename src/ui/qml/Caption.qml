import QtQuick

// Text in the caption sizes, secondary unless told otherwise.
Text {
    property bool smallest: false
    property bool secondary: true
    property bool mono: false

    font.pixelSize: smallest ? Theme.smallestSize : Theme.captionSize
    font.family: mono ? Theme.monospace : Qt.application.font.family
    color: secondary ? Theme.secondary : Theme.text
}
