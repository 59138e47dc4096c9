#pragma once

#include "core/model/UsageRecord.h"
#include "core/model/UsageSource.h"

#include <cstdint>
#include <string_view>

namespace fernhollow {

// What makes two sightings one record: the source and the message id, or, for a record
// without one, its session, time to the second, model and counts. The same message found in
// two logs, in a rewritten log or in an older cache is the same record. Only the times' whole
// seconds count, since earlier caches kept no fraction.
std::int64_t recordIdentity(UsageSource source, const UsageRecord& record);

// A 64-bit FNV-1a hash, for checking that bytes read before are still the same.
std::uint64_t bytesHash(std::string_view bytes);

} // namespace fernhollow
