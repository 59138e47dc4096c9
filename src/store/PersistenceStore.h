#pragma once

#include "store/StateFile.h"

#include <cstdint>
#include <filesystem>
#include <optional>

// The cache of Claude Code records and log times kept in the data folder between runs.
namespace fernhollow::PersistenceStore {

using State = PersistedState;

// state.json in the data folder, which is created on the way.
std::filesystem::path stateURL();

// A place in the order in which snapshots were taken. Take it when the snapshot is taken,
// so that a save finishing late never replaces a newer snapshot with an older one.
using SaveTicket = std::uint64_t;
SaveTicket nextSaveTicket();

// Writes the snapshot; a failure leaves the previous file whole and is not reported.
void save(const State& state, SaveTicket ticket);
void save(const State& state);

// Deletes state.json; a missing file is fine.
void clear();

// The size of state.json in bytes, 0 when there is none.
std::int64_t sizeOnDisk();

// The cached state, or nothing when there is no usable file. The file is left as it is.
std::optional<State> load();

} // namespace fernhollow::PersistenceStore
