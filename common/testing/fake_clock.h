// A clock that tests set and advance by hand.
#pragma once

#include "clock.h"

#include <cstdint>

namespace quellin {

class FakeClock final : public Clock {
public:
    explicit FakeClock(std::int64_t now = 0) : now_(now) {}
    std::int64_t Now() const override { return now_; }
    void Set(std::int64_t now) { now_ = now; }
    void Advance(std::int64_t seconds) { now_ += seconds; }

private:
    std::int64_t now_;
};

}  // namespace quellin
