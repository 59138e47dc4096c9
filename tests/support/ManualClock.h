#pragma once

#include "core/model/Clock.h"

namespace fernhollow::test {

// A clock that stands still until the test moves it.
class ManualClock final : public Clock {
public:
    explicit ManualClock(double seconds = 0.0) : seconds(seconds) {}
    double now() const override { return seconds; }
    double seconds;
};

} // namespace fernhollow::test
