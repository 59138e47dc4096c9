#pragma once

namespace fernhollow {

// The current moment, injected wherever a rule depends on "now" so tests can move time.
class Clock {
public:
    virtual ~Clock() = default;
    // Seconds since 1970-01-01T00:00:00Z.
    virtual double now() const = 0;

    static const Clock& system();
};

} // namespace fernhollow
