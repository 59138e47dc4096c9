#include "store/PersistenceStore.h"

#include "platform/Folders.h"
#include "store/AtomicFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace fernhollow::PersistenceStore {
namespace {

std::atomic<SaveTicket> lastTicket{0};
std::mutex newestWrittenMutex;
SaveTicket newestWritten = 0;

} // namespace

std::filesystem::path stateURL() {
    return Folders::data() / "state.json";
}

SaveTicket nextSaveTicket() {
    return ++lastTicket;
}

void save(const State& state, SaveTicket ticket) {
    const std::vector<std::string> pieces = encodeStatePieces(state);
    // Held across the write: a save of this process never overtakes another of this process,
    // and the file lock keeps other processes out.
    const std::lock_guard guard(newestWrittenMutex);
    if (ticket < newestWritten) {
        return;
    }
    if (replaceFileAtomically(stateURL(), pieces) != SaveOutcome::failed) {
        newestWritten = ticket;
    }
}

void save(const State& state) {
    save(state, nextSaveTicket());
}

void clear() {
    ::unlink(stateURL().c_str());
}

std::int64_t sizeOnDisk() {
    struct stat info {};
    if (::stat(stateURL().c_str(), &info) != 0) {
        return 0;
    }
    return static_cast<std::int64_t>(info.st_size);
}

std::optional<State> load() {
    return loadStateFile(stateURL());
}

} // namespace fernhollow::PersistenceStore
