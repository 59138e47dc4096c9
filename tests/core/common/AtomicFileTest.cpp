#include "core/common/AtomicFile.h"

#include "support/SaveFaults.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

namespace fernhollow {
namespace {

// A failed save says so and leaves the file as it was, no temporary behind: the user's Claude
// settings, the device id and the shared file are saved this way.
TEST(AtomicFile, AFailedSaveSaysSoAndLeavesTheFileAsItWas) {
    for (const auto fault : {test::SaveFault::readOnlyFolder, test::SaveFault::fullDisk}) {
        SCOPED_TRACE(test::name(fault));
        const test::TempTree tree;
        tree.write("file", "as it was");
        test::whileSavingFails(fault, tree.root(), 4096, [&] {
            EXPECT_FALSE(writeAtomically(tree / "file", std::string(8192, 'x'), 0600, tree / "file.tmp"));
        });
        EXPECT_EQ(test::readFile(tree / "file"), "as it was");
        EXPECT_FALSE(std::filesystem::exists(tree / "file.tmp"));
    }
}

} // namespace
} // namespace fernhollow
