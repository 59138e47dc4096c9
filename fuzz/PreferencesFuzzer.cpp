// A preferences file of arbitrary bytes, loaded from the app's configuration folder and read
// through the settings object, as at start-up, and by the status line program's budget reader.
#include "FuzzTarget.h"
#include "Require.h"

#include "core/common/Folders.h"
#include "core/figures/BudgetPreferences.h"
#include "platform/settings/AppSettings.h"
#include "platform/settings/JsonPreferencesFile.h"
#include "support/TempTree.h"

#include <stdlib.h>

namespace {

using namespace fernhollow;

class FixedClock final : public Clock {
public:
    double now() const override { return 1762351407.0; } // 2025-11-05T14:03:27Z
};

// A home of the harness's own, so that no run reads or writes the real user's files.
struct PrivateHome {
    test::TempTree tree;
    std::filesystem::path preferences;

    PrivateHome() {
        ::setenv("HOME", tree.root().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (tree / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (tree / "data").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (tree / "cache").c_str(), 1);
        preferences = Folders::preferencesFile();
        fuzz::require(preferences == tree / "config" / "Fernhollow" / "preferences.json",
                      "the preferences file lives in the private home");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const PrivateHome home;
    home.tree.write("config/Fernhollow/preferences.json", fuzz::asText(data, size));
    JsonPreferencesFile file(home.preferences);
    const FixedClock clock;
    const AppSettings settings(file, clock, QTimeZone::utc());
    for (const auto kind : {ThresholdKind::warn, ThresholdKind::critical, ThresholdKind::emergency}) {
        settings.hasFiredToday(kind);
    }
    BudgetPreferences::read(home.preferences);
    return 0;
}
