// Time on the card: machine time runs `clockFactor` times faster than the
// host's steady clock, so tests can run fields and I2C transfers quickly.
#pragma once

#include <chrono>
#include <cstdint>

namespace lxhw::tern {

enum class VideoStandard { Pal, Ntsc };

struct StandardTiming {
    double fieldsPerSecond;
    uint32_t width;       // square-pixel samples per active line
    uint32_t frameLines;  // active lines of a frame (two fields)
    uint32_t firstActiveLine;  // vertical delay, in frame lines, of the first active line
    uint32_t horizontalStart;  // horizontal delay of the first active sample at 1:1 scale
};

constexpr StandardTiming kPalTiming{50.0, 768, 576, 32, 154};
constexpr StandardTiming kNtscTiming{60000.0 / 1001.0, 640, 480, 26, 114};

inline const StandardTiming& timingOf(VideoStandard s) { return s == VideoStandard::Pal ? kPalTiming : kNtscTiming; }

class MachineClock {
public:
    using HostClock = std::chrono::steady_clock;

    explicit MachineClock(double factor) : factor_(factor > 0 ? factor : 1.0), origin_(HostClock::now()) {}

    double factor() const { return factor_; }
    // Machine nanoseconds since the clock was made.
    uint64_t now() const {
        const double hostNs = std::chrono::duration<double, std::nano>(HostClock::now() - origin_).count();
        return static_cast<uint64_t>(hostNs * factor_);
    }
    HostClock::time_point hostTimeOf(uint64_t machineNs) const {
        return origin_ + std::chrono::duration_cast<HostClock::duration>(
                             std::chrono::duration<double, std::nano>(static_cast<double>(machineNs) / factor_));
    }

private:
    const double factor_;
    const HostClock::time_point origin_;
};

}  // namespace lxhw::tern
