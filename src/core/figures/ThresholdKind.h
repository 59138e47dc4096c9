#pragma once

namespace fernhollow {

// The alert levels that fire at most once per local day.
enum class ThresholdKind { warn, critical, emergency };

} // namespace fernhollow
