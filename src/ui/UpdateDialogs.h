#pragma once

namespace fernhollow {

class Updater;

// Tells the user what a check for updates found: up to date, a newer version with a button to
// its download page, or why the check failed.
void showUpdateResults(Updater& updater);

} // namespace fernhollow
