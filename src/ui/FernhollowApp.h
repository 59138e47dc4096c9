#pragma once

namespace fernhollow::FernhollowApp {

// Runs the tray app until the user quits it; a second start hands over to the first and ends.
int run(int argc, char** argv);

} // namespace fernhollow::FernhollowApp
