#pragma once

#include "core/ledger/Ledger.h"
#include "core/sync/DeviceIdentity.h"

#include <filesystem>
#include <string>
#include <vector>

namespace fernhollow {

// What a pass over the shared folder did, and what it could not do, for the settings window.
struct SharedFolderPass {
    std::vector<std::string> problems;
    bool wrote = false;
    std::size_t filesRead = 0;
};

// What a pass may write of this machine's own file.
enum class OwnFileWrite {
    none, // a reader beside the app, such as the report
    // Whole, when it is not as the last write left it (new, gone, or replaced by an older copy).
    ifNotAsLeft,
    // Besides, a block of the records written since the last write, if there are any.
    withNewRecords,
};

// One pass over a folder that the user's machines share: this machine's file is written first,
// as `write` allows. Then every file that changed
// is merged into the ledger, read from where the last read ended when only blocks were added.
// A file that does not decode is skipped until it changes; a folder that cannot be listed leaves
// what is known of its files as it was. Throws sqlite::Error as the ledger does.
SharedFolderPass passSharedFolder(Ledger& ledger, const std::filesystem::path& folder,
                                  const DeviceIdentity& self, double now, OwnFileWrite write);

} // namespace fernhollow
