import QtQuick

// A named symbol from the app's drawings, in one colour.
Image {
    property string name
    property color tint: Theme.text
    property int size: 14

    width: size
    height: size
    sourceSize: Qt.size(size * Screen.devicePixelRatio, size * Screen.devicePixelRatio)
    source: name === "" ? "" : "image://symbol/" + name + "/" + tint.toString().substring(1)
    fillMode: Image.PreserveAspectFit
}
