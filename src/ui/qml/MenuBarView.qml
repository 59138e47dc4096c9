import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The dashboard that drops down from the tray icon. Every figure comes from `panel`.
Rectangle {
    id: root
    required property QtObject panel

    width: 380
    implicitHeight: content.implicitHeight + 24
    color: Theme.background

    ColumnLayout {
        id: content
        x: 12
        y: 12
        width: root.width - 24
        spacing: 10

        // Header
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            RowLayout {
                Layout.fillWidth: true
                spacing: 6
                Text {
                    text: "Fernhollow"
                    color: Theme.text
                    font.pixelSize: Theme.headlineSize
                    font.bold: true
                }
                Caption {
                    objectName: "modeText"
                    smallest: true
                    visible: text !== ""
                    text: root.panel.modeText
                }
                Item { Layout.fillWidth: true }
                // Made only while someone can see it turn: a spinner that exists animates on
                // every frame tick, and the tray app would wake for it all day.
                Loader {
                    active: root.panel.isRefreshing && root.Window.window !== null && root.Window.window.visible
                    Layout.preferredWidth: 18
                    Layout.preferredHeight: 18
                    sourceComponent: BusyIndicator {
                        objectName: "refreshSpinner"
                        running: true
                        padding: 0
                    }
                }
                SymbolButton {
                    objectName: "refreshButton"
                    symbol: "arrow.clockwise"
                    tip: "Refresh now"
                    onClicked: root.panel.refresh()
                }
            }
            ProgressBar {
                objectName: "scanProgress"
                Layout.fillWidth: true
                implicitHeight: 3
                visible: root.panel.scanProgress >= 0
                value: Math.max(root.panel.scanProgress, 0)
                background: Rectangle { color: Theme.divider; radius: 1.5 }
                contentItem: Item {
                    Rectangle {
                        width: parent.width * root.panel.scanProgress
                        height: parent.height
                        radius: 1.5
                        color: Theme.accent
                    }
                }
            }
        }

        // While the machines share through a folder: whose usage every figure below counts.
        RowLayout {
            objectName: "machineScope"
            visible: root.panel.sharing
            Layout.fillWidth: true
            spacing: 0
            Button {
                objectName: "thisMachineButton"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                text: "This machine"
                checked: !root.panel.showAllMachines
                highlighted: checked
                font.pixelSize: Theme.captionSize
                onClicked: root.panel.showAllMachines = false
            }
            Button {
                objectName: "allMachinesButton"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                text: "All machines"
                checked: root.panel.showAllMachines
                highlighted: checked
                font.pixelSize: Theme.captionSize
                onClicked: root.panel.showAllMachines = true
            }
        }

        Divider {}
        GridLayout {
            Layout.fillWidth: true
            columns: 3
            rowSpacing: 10
            columnSpacing: 8
            SummaryCell { objectName: "todayCell"; label: "Today"; value: root.panel.todayText; subLine: root.panel.todayDeltaText; highlighted: true }
            SummaryCell { objectName: "weekCell"; label: "This week"; value: root.panel.weekText }
            SummaryCell { objectName: "monthCell"; label: "This month"; value: root.panel.monthText }
            SummaryCell { objectName: "last30Cell"; label: "Last 30d"; value: root.panel.last30Text }
            SummaryCell { objectName: "recordsCell"; label: "Records"; value: root.panel.recordsText }
            SummaryCell { objectName: "refreshedCell"; label: "Refreshed"; value: root.panel.refreshedText }
        }

        Divider { visible: root.panel.planWindowLines.length > 0 }
        ColumnLayout {
            objectName: "planWindows"
            visible: root.panel.planWindowLines.length > 0
            Layout.fillWidth: true
            spacing: 2
            Repeater {
                model: root.panel.planWindowLines
                Caption {
                    required property string modelData
                    Layout.fillWidth: true
                    wrapMode: Text.Wrap
                    text: modelData
                }
            }
        }

        Divider {}
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 6
            RowLayout {
                Layout.fillWidth: true
                Caption { smallest: true; text: "MONTHLY BUDGET" }
                Item { Layout.fillWidth: true }
                Caption {
                    objectName: "budgetLine"
                    mono: true
                    color: root.panel.barColor
                    text: root.panel.budgetLineText
                }
            }
            Rectangle {
                objectName: "budgetBar"
                Layout.fillWidth: true
                implicitHeight: 8
                radius: 4
                color: Qt.rgba(Theme.text.r, Theme.text.g, Theme.text.b, 0.18 * 0.62)
                Rectangle {
                    objectName: "budgetBarFill"
                    width: parent.width * root.panel.budgetFraction
                    height: parent.height
                    radius: 4
                    color: root.panel.barColor
                }
            }
        }

        Divider { visible: root.panel.adviceVisible }
        ColumnLayout {
            objectName: "adviceCard"
            visible: root.panel.adviceVisible
            Layout.fillWidth: true
            spacing: 4
            RowLayout {
                spacing: 6
                Symbol { name: root.panel.adviceIcon; tint: root.panel.adviceColor }
                Caption {
                    objectName: "adviceTitle"
                    secondary: false
                    font.weight: Font.DemiBold
                    text: root.panel.adviceTitle
                }
            }
            Caption {
                objectName: "adviceBody"
                secondary: false
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
                text: root.panel.adviceBody
            }
            RowLayout {
                visible: root.panel.adviceCommand !== ""
                spacing: 4
                Rectangle {
                    implicitWidth: commandText.implicitWidth + 12
                    implicitHeight: commandText.implicitHeight + 6
                    radius: 4
                    color: Qt.rgba(Theme.text.r, Theme.text.g, Theme.text.b, 0.12 * 0.62)
                    Caption {
                        id: commandText
                        objectName: "adviceCommand"
                        anchors.centerIn: parent
                        secondary: false
                        mono: true
                        text: root.panel.adviceCommand
                    }
                }
                SymbolButton {
                    objectName: "copyCommandButton"
                    symbol: "doc.on.doc"
                    tip: "Copy command"
                    onClicked: root.panel.copyAdviceCommand()
                }
            }
        }

        Divider { visible: root.panel.unpricedVisible }
        ColumnLayout {
            objectName: "unpricedBanner"
            visible: root.panel.unpricedVisible
            Layout.fillWidth: true
            spacing: 3
            RowLayout {
                spacing: 6
                Symbol { name: "exclamationmark.triangle.fill"; tint: "#e6b400" }
                Caption {
                    objectName: "unpricedHeadline"
                    secondary: false
                    font.weight: Font.DemiBold
                    text: root.panel.unpricedHeadline
                }
            }
            Caption {
                objectName: "unpricedNames"
                smallest: true
                mono: true
                Layout.fillWidth: true
                elide: Text.ElideRight
                text: root.panel.unpricedNames
            }
            Caption {
                smallest: true
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
                text: "Fix: Settings \u2192 enable price sync, or edit pricing_overrides.json"
            }
        }

        Divider {}
        ColumnLayout {
            Layout.fillWidth: true
            Layout.topMargin: 6
            Layout.bottomMargin: 6
            spacing: 4
            RowLayout {
                Layout.fillWidth: true
                Caption { smallest: true; text: "LAST 14 DAYS" }
                Item { Layout.fillWidth: true }
                Caption { objectName: "sparklineMax"; smallest: true; text: root.panel.sparklineMaxText }
            }
            Row {
                id: sparkline
                objectName: "sparkline"
                Layout.fillWidth: true
                Layout.preferredHeight: 36
                spacing: 2
                readonly property int count: root.panel.sparklineBars.length
                Repeater {
                    model: root.panel.sparklineBars
                    delegate: Item {
                        required property var modelData
                        width: sparkline.count > 0 ? (sparkline.width - (sparkline.count - 1) * sparkline.spacing) / sparkline.count : 0
                        height: 36
                        Rectangle {
                            objectName: "sparkBar"
                            anchors.bottom: parent.bottom
                            width: parent.width
                            height: modelData.height
                            radius: 1.5
                            color: modelData.isToday ? Theme.accent : Qt.rgba(Theme.text.r, Theme.text.g, Theme.text.b, 0.6 * 0.62)
                        }
                        MouseArea {
                            id: barHover
                            anchors.fill: parent
                            hoverEnabled: true
                        }
                        ToolTip.visible: barHover.containsMouse
                        ToolTip.text: modelData.tooltip
                        ToolTip.delay: 300
                    }
                }
            }
        }

        Divider {}
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            RowLayout {
                spacing: 6
                Caption { smallest: true; text: "LIVE SESSIONS" }
                Item {
                    visible: root.panel.liveCount > 0
                    implicitWidth: 12
                    implicitHeight: 12
                    Rectangle { anchors.fill: parent; radius: 6; color: Qt.rgba(0.204, 0.78, 0.349, 0.3) }
                    Rectangle { anchors.centerIn: parent; width: 6; height: 6; radius: 3; color: Theme.green }
                }
                Caption {
                    objectName: "liveCount"
                    smallest: true
                    visible: root.panel.liveCount > 0
                    text: root.panel.liveCountText
                }
            }
            Caption {
                objectName: "noLiveSessions"
                visible: root.panel.liveCount === 0
                text: "No active sessions in the last 5 minutes."
            }
            Repeater {
                objectName: "liveRows"
                model: root.panel.liveSessions
                delegate: RowLayout {
                    required property var modelData
                    Layout.fillWidth: true
                    spacing: 4
                    Text {
                        text: modelData.project
                        color: Theme.text
                        font.pixelSize: Theme.bodySize
                        elide: Text.ElideRight
                        Layout.maximumWidth: 140
                    }
                    Caption { text: "\u00B7" }
                    Caption {
                        text: modelData.model
                        font.pixelSize: Theme.bodySize
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                    Text {
                        text: modelData.usd
                        color: Theme.text
                        font.family: Theme.monospace
                        font.pixelSize: Theme.bodySize
                    }
                    Caption {
                        text: modelData.age
                        smallest: true
                        horizontalAlignment: Text.AlignRight
                        Layout.preferredWidth: 26
                    }
                }
            }
        }

        Divider {}
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            Caption { smallest: true; text: "THIS MONTH BY MODEL" }
            Repeater {
                objectName: "modelRows"
                model: root.panel.modelRows
                delegate: AmountRow {
                    required property var modelData
                    name: modelData.name
                    amount: modelData.usd
                }
            }
        }

        Divider {}
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            Caption { smallest: true; text: "THIS MONTH BY PROJECT (TOP 5)" }
            Repeater {
                objectName: "projectRows"
                model: root.panel.projectRows
                delegate: AmountRow {
                    required property var modelData
                    name: modelData.name
                    amount: modelData.usd
                }
            }
        }

        Divider { visible: root.panel.sharing }
        ColumnLayout {
            objectName: "machinesSection"
            visible: root.panel.sharing
            Layout.fillWidth: true
            spacing: 4
            Caption { smallest: true; text: "THIS MONTH BY MACHINE" }
            Repeater {
                objectName: "machineRows"
                model: root.panel.machineRows
                delegate: AmountRow {
                    required property var modelData
                    name: modelData.name
                    detail: modelData.seen
                    amount: modelData.usd
                }
            }
        }

        Divider {}
        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            Caption { objectName: "versionText"; smallest: true; text: root.panel.versionText }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "checkForUpdatesButton"
                text: "Check for Updates\u2026"
                enabled: root.panel.canCheckForUpdates
                font.pixelSize: Theme.captionSize
                onClicked: root.panel.checkForUpdates()
            }
            SymbolButton {
                objectName: "settingsButton"
                symbol: "gearshape"
                tip: "AppSettings"
                onClicked: root.panel.openSettings()
            }
            Button {
                objectName: "quitButton"
                text: "Quit"
                font.pixelSize: Theme.captionSize
                onClicked: root.panel.quit()
            }
        }
    }
}
