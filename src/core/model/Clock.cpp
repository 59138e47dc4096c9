#include "core/model/Clock.h"

#include <chrono>

namespace fernhollow {
namespace {

class SystemClock final : public Clock {
public:
    double now() const override {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    }
};

} // namespace

const Clock& Clock::system() {
    static const SystemClock clock;
    return clock;
}

} // namespace fernhollow
