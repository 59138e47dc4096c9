#include "core/common/Folders.h"

#include "support/TempTree.h"
#include "support/WithEnv.h"

#include <gtest/gtest.h>

namespace fernhollow {
namespace {

// Each row: the environment, the folders that exist, and where Claude's and OpenClaw's are looked for.
TEST(AgentFolders, FollowTheEnvironmentAndWhatExists) {
    const struct {
        std::string claudeConfig, openClawState, clawdbotState;
        std::vector<std::string> existing;
        std::vector<std::string> claude;
        std::string openClaw;
    } cases[] = {
        {"", "", "", {".moldbot", ".openclaw"}, {}, ".openclaw"},
        {"~/work, ~/.claude-b/projects ,~/fresh,~/gone,~/gone/projects/",
         "",
         "",
         {"work/projects", "fresh", ".moltbot", ".clawdbot"},
         {"work/projects", ".claude-b/projects", "fresh", "gone/projects", "gone/projects"},
         ".clawdbot"},
        {"", "~/state", "~/older", {".openclaw"}, {}, "state"},
        {"", "", "~/older", {".openclaw"}, {}, "older"},
    };
    for (const auto& row : cases) {
        const test::TempTree home;
        const test::WithEnv homeVariable("HOME", home.root().string());
        const test::WithEnv claudeConfig("CLAUDE_CONFIG_DIR", row.claudeConfig);
        const test::WithEnv xdgConfig("XDG_CONFIG_HOME", "");
        const test::WithEnv openClawState("OPENCLAW_STATE_DIR", row.openClawState);
        const test::WithEnv clawdbotState("CLAWDBOT_STATE_DIR", row.clawdbotState);
        for (const std::string& folder : row.existing) {
            std::filesystem::create_directories(home / folder);
        }
        std::vector<std::filesystem::path> expected;
        for (const std::string& folder : row.claude) {
            expected.push_back(home / folder);
        }
        expected.insert(expected.end(), {home / ".claude/projects", home / ".config/claude/projects"});
        EXPECT_EQ(Folders::claudeProjectsFolders(), expected) << row.claudeConfig;
        EXPECT_EQ(Folders::openClawStateFolder(), home / row.openClaw) << row.openClawState;
        EXPECT_EQ(Folders::openClawStateFolder("~/chosen"), home / "chosen");
    }
}

} // namespace
} // namespace fernhollow
