pragma Singleton
import QtQuick

// The few colours and type sizes every view shares, from the desktop's palette.
QtObject {
    property SystemPalette system: SystemPalette {}

    readonly property color text: system.windowText
    readonly property color secondary: Qt.rgba(text.r, text.g, text.b, 0.62)
    readonly property color divider: Qt.rgba(text.r, text.g, text.b, 0.15)
    readonly property color accent: system.highlight
    readonly property color background: system.window
    readonly property color error: "#e0362c"
    readonly property color orange: "#ff8c00"
    readonly property color green: "#34c759"

    readonly property int smallestSize: 10
    readonly property int captionSize: 11
    readonly property int bodySize: 13
    readonly property int headlineSize: 13
    readonly property int title3Size: 16
    readonly property string monospace: "DejaVu Sans Mono"
}
