#pragma once

namespace fernhollow {

class LoginItem;
class PreferencesStore;

// The one-time greeting of a new user, with the offer to launch at login. The flag is
// written before anything shows, so a crash or a quit during the prompt never brings it back.
// The prompt appears 0.6 s later without blocking the event loop: refreshes go on under it.
class WelcomePrompt {
public:
    static constexpr auto seenKey = "fernhollow.hasSeenWelcome";
    static constexpr int delayMs = 600;

    // Whether the prompt was scheduled (false once the user has seen it).
    static bool maybeShow(PreferencesStore& preferences, LoginItem& loginItem);
};

} // namespace fernhollow
