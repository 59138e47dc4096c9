#pragma once

namespace fernhollow {

class PreferencesStore;

// Tells a user whose desktop shows no tray icons, once, why the panel came up as a window and
// what brings the tray icon: a notification, since the window itself is the answer every day.
class NoTrayNotice {
public:
    static constexpr auto seenKey = "fernhollow.hasSeenNoTrayNotice";
    static constexpr auto title = "Fernhollow opens as a window";
    static constexpr auto body = "This desktop shows no tray icons. A tray extension (on GNOME, "
                                 "\"AppIndicator and KStatusNotifierItem Support\") gives "
                                 "Fernhollow its icon in the top bar.";

    // Whether the notification was posted (false once the user has been told).
    static bool maybeShow(PreferencesStore& preferences);
};

} // namespace fernhollow
