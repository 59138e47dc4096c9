import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window

// The settings window. Changes take effect at once; there is no Apply.
Rectangle {
    id: root
    required property QtObject model
    readonly property QtObject settings: model.settings

    width: 480
    // Taller than the screen it scrolls rather than run off the bottom.
    implicitHeight: Math.min(content.implicitHeight + 40, Screen.desktopAvailableHeight - 60)
    color: Theme.background

    Flickable {
        objectName: "scroller"
        anchors.fill: parent
        contentWidth: width
        contentHeight: content.implicitHeight + 40
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            id: content
            x: 20
            y: 20
            width: root.width - 40
            spacing: 16

            RowLayout {
                Layout.fillWidth: true
                spacing: 8
                Symbol { name: "gearshape.fill"; tint: Theme.secondary; size: 18 }
                Text {
                    text: "Fernhollow Settings"
                    color: Theme.text
                    font.pixelSize: Theme.title3Size
                    font.weight: Font.DemiBold
                }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "doneButton"
                    text: "Done"
                    highlighted: true
                    onClicked: root.model.done()
                }
            }

            Divider {}
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 6
                SectionLabel { title: "General"; symbol: "macwindow" }
                CheckBox {
                    objectName: "launchAtLoginToggle"
                    text: "Launch Fernhollow at login"
                    checked: root.model.launchAtLogin
                    onToggled: root.model.setLaunchAtLogin(checked)
                }
                Caption { objectName: "loginItemStatus"; text: root.model.loginItemStatus }
                Button {
                    objectName: "statusLineButton"
                    text: root.model.statusLineInstalled ? "Remove Claude Code status line"
                                                         : "Show spend in Claude Code's status line"
                    onClicked: root.model.toggleStatusLine()
                }
                Caption {
                    objectName: "statusLineMessage"
                    visible: text.length > 0
                    Layout.fillWidth: true
                    wrapMode: Text.Wrap
                    text: root.model.statusLineMessage
                }
            }

            Divider {}
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 6
                SectionLabel { title: "Monthly Budget"; symbol: "dollarsign.circle" }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 6
                    Text { text: "$"; color: Theme.text; font.pixelSize: Theme.bodySize }
                    TextField {
                        objectName: "budgetField"
                        Layout.preferredWidth: 100
                        placeholderText: "200"
                        text: root.model.budgetText
                        onTextEdited: root.model.budgetText = text
                        onAccepted: root.model.submitBudget()
                    }
                    Text { text: "USD / month"; color: Theme.secondary; font.pixelSize: Theme.bodySize }
                    Item { Layout.fillWidth: true }
                    Button { objectName: "preset100"; text: "$100"; implicitWidth: 56; onClicked: root.model.applyBudgetPreset(100) }
                    Button { objectName: "preset200"; text: "$200"; implicitWidth: 56; onClicked: root.model.applyBudgetPreset(200) }
                    Button { objectName: "preset500"; text: "$500"; implicitWidth: 56; onClicked: root.model.applyBudgetPreset(500) }
                }
                Caption {
                    Layout.fillWidth: true
                    wrapMode: Text.WordWrap
                    text: "Default $200 = Claude Max plan price. Set higher if you want to track API-equivalent value extracted from your subscription."
                }
            }

            Divider {}
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 6
                SectionLabel { title: "Alert Thresholds"; symbol: "bell.badge" }
                ThresholdRow {
                    objectName: "warnThreshold"
                    label: "\u26A0\uFE0F Warn at"
                    sliderLabel: "Warn"
                    from: 0.3
                    to: 0.95
                    value: root.settings.warnThresholdPct
                    percentText: root.model.percentText
                    onMoved: (value) => root.settings.warnThresholdPct = value
                }
                ThresholdRow {
                    objectName: "criticalThreshold"
                    label: "\uD83D\uDEA8 Critical at"
                    sliderLabel: "Critical"
                    from: 0.5
                    to: 0.99
                    value: root.settings.criticalThresholdPct
                    percentText: root.model.percentText
                    onMoved: (value) => root.settings.criticalThresholdPct = value
                }
                Caption {
                    Layout.fillWidth: true
                    wrapMode: Text.WordWrap
                    text: "\uD83D\uDD25 Emergency fires automatically at 100% of budget. Each level alerts once per day."
                }
                Button {
                    objectName: "testNotificationButton"
                    text: "Test notification now"
                    flat: true
                    font.pixelSize: Theme.captionSize
                    onClicked: root.model.testNotification()
                }
            }

            Divider {}
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 6
                SectionLabel { title: "Pricing"; symbol: "tag.fill" }
                Caption {
                    Layout.fillWidth: true
                    wrapMode: Text.WordWrap
                    secondary: false
                    text: "Built-in rates cover the current Claude, GPT, and DeepSeek models. Two ways to adapt to anything else:"
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 2
                    CheckBox {
                        objectName: "syncToggle"
                        Layout.alignment: Qt.AlignTop
                        checked: root.settings.syncRemotePricing
                        onToggled: root.settings.syncRemotePricing = checked
                    }
                    ColumnLayout {
                        Layout.fillWidth: true
                        Layout.topMargin: 6
                        spacing: 1
                        Text { text: "Auto-sync prices from LiteLLM"; color: Theme.text; font.pixelSize: Theme.bodySize }
                        Caption {
                            Layout.fillWidth: true
                            wrapMode: Text.WordWrap
                            text: "Fills rates for new/unlisted models so they aren't billed as Sonnet. Curated built-in rates always win; synced once per launch."
                        }
                    }
                }
                RowLayout {
                    spacing: 8
                    Button {
                        objectName: "syncNowButton"
                        text: "Sync now"
                        enabled: root.settings.syncRemotePricing
                        onClicked: root.model.syncNow()
                    }
                    Caption { objectName: "syncStatus"; visible: text !== ""; text: root.model.syncStatus }
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 8
                    Button {
                        objectName: "editOverridesButton"
                        text: "Edit price overrides\u2026"
                        onClicked: root.model.editOverrides()
                    }
                    Button {
                        objectName: "reloadOverridesButton"
                        text: "Reload overrides"
                        onClicked: root.model.reloadOverrides()
                    }
                    Caption {
                        objectName: "overrideStatus"
                        Layout.fillWidth: true
                        wrapMode: Text.WordWrap
                        visible: text !== ""
                        text: root.model.overrideStatus
                    }
                }
                Caption {
                    Layout.fillWidth: true
                    smallest: true
                    wrapMode: Text.WordWrap
                    text: "Override file: pricing_overrides.json (only input+output required; cache rates default to Anthropic conventions). See the .example.json alongside it."
                }
                Caption {
                    objectName: "unpricedLine"
                    Layout.fillWidth: true
                    smallest: true
                    wrapMode: Text.WordWrap
                    visible: text !== ""
                    color: Theme.orange
                    text: root.model.unpricedText
                }
            }

            Divider {}
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 8
                SectionLabel { title: "Providers (BYO API key)"; symbol: "key.fill" }
                SourceRow {
                    objectName: "claudeSource"
                    connected: true
                    name: "Claude Code"
                    detail: root.model.claudeDetail
                }
                // The folders the user added, besides those the environment names.
                Repeater {
                    model: root.model.claudeFoldersAdded
                    RowLayout {
                        required property string modelData
                        required property int index
                        Layout.fillWidth: true
                        Layout.leftMargin: 24
                        spacing: 6
                        Caption { Layout.fillWidth: true; elide: Text.ElideMiddle; text: modelData }
                        Button {
                            objectName: "removeClaudeFolder" + index
                            text: "Remove"
                            flat: true
                            font.pixelSize: Theme.captionSize
                            onClicked: root.model.removeClaudeFolder(modelData)
                        }
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    Layout.leftMargin: 24
                    spacing: 6
                    TextField {
                        id: claudeFolderField
                        objectName: "claudeFolderField"
                        Layout.fillWidth: true
                        placeholderText: "Another Claude Code folder, e.g. ~/.claude-work"
                        onAccepted: addClaudeFolderButton.clicked()
                    }
                    Button {
                        id: addClaudeFolderButton
                        objectName: "addClaudeFolderButton"
                        text: "Add folder"
                        enabled: claudeFolderField.text.trim() !== ""
                        onClicked: {
                            root.model.addClaudeFolder(claudeFolderField.text)
                            claudeFolderField.clear()
                        }
                    }
                }
                SourceRow {
                    objectName: "openclawSource"
                    connected: root.model.openclawInstalled
                    name: "OpenClaw"
                    detail: root.model.openclawDetail
                }
                RowLayout {
                    Layout.fillWidth: true
                    Layout.leftMargin: 24
                    spacing: 6
                    Caption { text: "State folder" }
                    TextField {
                        objectName: "openclawFolderField"
                        Layout.fillWidth: true
                        placeholderText: root.model.openclawFolderPlaceholder
                        text: root.model.openclawFolder
                        onEditingFinished: root.model.setOpenclawFolder(text)
                    }
                }
                SourceRow {
                    objectName: "codexSource"
                    connected: root.model.codexFound
                    name: "Codex CLI"
                    detail: root.model.codexDetail
                }
                SourceRow {
                    objectName: "geminiSource"
                    connected: root.model.geminiFound
                    name: "Gemini CLI"
                    detail: root.model.geminiDetail
                }
                SourceRow {
                    objectName: "openaiSource"
                    connected: root.model.openaiKeySaved
                    name: "OpenAI"
                    detail: root.model.openaiDetail
                    detailColor: root.model.openaiDetailIsError ? Theme.error : Theme.secondary
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 6
                    TextField {
                        objectName: "keyField"
                        Layout.fillWidth: true
                        echoMode: TextInput.Password
                        placeholderText: "Admin key (sk-admin-... requires usage.read scope)"
                        text: root.model.keyDraft
                        onTextEdited: root.model.keyDraft = text
                    }
                    Button {
                        objectName: "connectButton"
                        text: root.model.openaiKeySaved ? "Update" : "Connect"
                        enabled: root.model.keyDraft !== ""
                        onClicked: root.model.connectKey()
                    }
                    Button {
                        objectName: "disconnectButton"
                        visible: root.model.openaiKeySaved
                        text: "Disconnect"
                        onClicked: root.model.disconnectKey()
                    }
                }
                Caption {
                    Layout.fillWidth: true
                    wrapMode: Text.WordWrap
                    text: "Standard OpenAI keys (sk-...) cannot read org-wide usage. You need an Admin key with usage.read scope from platform.openai.com \u2192 Settings \u2192 Admin keys."
                }
            }

            Divider {}
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 6
                SectionLabel { title: "Machines"; symbol: "desktopcomputer" }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 8
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 1
                        Text { text: "Share usage through a folder"; color: Theme.text; font.pixelSize: Theme.bodySize }
                        Caption {
                            objectName: "sharedFolder"
                            Layout.fillWidth: true
                            elide: Text.ElideMiddle
                            text: root.model.sharedFolderText
                        }
                    }
                    Button {
                        objectName: "chooseSharedFolderButton"
                        text: "Choose\u2026"
                        onClicked: root.model.chooseSharedFolder()
                    }
                    Button {
                        objectName: "stopSharingButton"
                        visible: root.model.sharing
                        text: "Stop sharing"
                        onClicked: root.model.stopSharing()
                    }
                }
                Caption {
                    objectName: "sharingPrivacy"
                    Layout.fillWidth: true
                    wrapMode: Text.WordWrap
                    text: "Pick a folder your machines already keep in sync: Syncthing, a cloud drive, NFS, a USB stick. Each machine writes its own file there and counts the others'. Shared: tokens, costs, models, times, session ids and each project's short name. Never shared: prompts, paths below the project name, or the OpenAI key."
                }
                Caption {
                    objectName: "sharingProblems"
                    Layout.fillWidth: true
                    wrapMode: Text.WordWrap
                    visible: text !== ""
                    color: Theme.error
                    text: root.model.sharingProblems
                }
                // Every machine met in the folder; one whose file is gone may be removed.
                Repeater {
                    objectName: "machineRows"
                    model: root.model.machines
                    RowLayout {
                        required property var modelData
                        required property int index
                        Layout.fillWidth: true
                        spacing: 6
                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 1
                            Text {
                                Layout.fillWidth: true
                                elide: Text.ElideRight
                                text: modelData.name
                                color: Theme.text
                                font.pixelSize: Theme.bodySize
                            }
                            Caption {
                                objectName: "machineDetail" + index
                                Layout.fillWidth: true
                                wrapMode: Text.WordWrap
                                text: modelData.detail
                            }
                        }
                        Button {
                            objectName: "removeMachine" + index
                            visible: modelData.removable
                            text: "Remove\u2026"
                            flat: true
                            font.pixelSize: Theme.captionSize
                            onClicked: removeMachineDialog.ask(modelData.id, modelData.name)
                        }
                    }
                }
                Dialog {
                    id: removeMachineDialog
                    objectName: "removeMachineDialog"
                    property var machineId: 0
                    property string machineName
                    function ask(id, name) {
                        machineId = id
                        machineName = name
                        open()
                    }
                    title: "Remove \u201C" + machineName + "\u201D?"
                    modal: true
                    anchors.centerIn: Overlay.overlay
                    standardButtons: Dialog.Cancel | Dialog.Discard
                    Component.onCompleted: {
                        const remove = standardButton(Dialog.Discard)
                        remove.text = "Remove"
                        remove.objectName = "confirmRemoveMachine"
                    }
                    Label {
                        width: 360
                        wrapMode: Text.WordWrap
                        text: "Its records leave the figures of all machines. This cannot be undone, unless its file comes back to the shared folder."
                    }
                    onDiscarded: { root.model.removeMachine(machineId); close() }
                }
            }

            Divider {}
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 6
                SectionLabel { title: "Local Cache"; symbol: "internaldrive.fill" }
                Caption {
                    objectName: "cacheLocation"
                    Layout.fillWidth: true
                    wrapMode: Text.WordWrap
                    text: root.model.cacheLocationText
                }
                Caption { objectName: "cacheSize"; text: root.model.cacheSizeText }
                Caption {
                    objectName: "ledgerError"
                    Layout.fillWidth: true
                    wrapMode: Text.WordWrap
                    visible: text !== ""
                    color: "#d70015"
                    text: root.model.ledgerError
                }
                RowLayout {
                    spacing: 8
                    Button {
                        objectName: "rescanButton"
                        text: "Force full rescan"
                        onClicked: root.model.forceFullRescan()
                    }
                    Button {
                        objectName: "forgetButton"
                        text: "Forget history\u2026"
                        onClicked: forgetDialog.open()
                    }
                }
                Dialog {
                    id: forgetDialog
                    objectName: "forgetDialog"
                    title: "Forget history?"
                    modal: true
                    anchors.centerIn: Overlay.overlay
                    standardButtons: Dialog.Cancel | Dialog.Discard
                    Label {
                        width: 360
                        wrapMode: Text.WordWrap
                        text: "Every usage record kept is deleted. The logs still on disk are read again; usage from logs that are gone is lost for good."
                    }
                    onDiscarded: { root.model.forgetHistory(); close() }
                }
            }

            Divider {}
            RowLayout {
                Layout.fillWidth: true
                Caption { text: "v0.1.0" }
                Item { Layout.fillWidth: true }
                Caption { objectName: "recordsLoaded"; text: root.model.recordsLoadedText }
            }
        }
    }
}
