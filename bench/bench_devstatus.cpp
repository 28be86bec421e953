// Device status: GetDevStatus for 1,000 and for 10,000 devices of 16
// channels; the cost must grow linearly.

#include "BenchSupport.h"

#include <QtCore/QCoreApplication>
#include <TaviSim.h>
#include <WebComm.h>
#include <chrono>
#include <string>
#include <vector>

namespace {

DeviceStatusMap devices(int count)
{
    DeviceStatusMap map;
    for (int d = 0; d < count; ++d) {
        auto& channels = map["dev-" + std::to_string(100000 + d)];
        for (int c = 1; c <= 16; ++c)
            channels[c] = (d + c) % 3;
    }
    return map;
}

// Milliseconds per GetDevStatus call, median of rounds.
double cost(int count, int rounds)
{
    TaviSim::setDeviceStatus(devices(count));
    CWebComm bridge;
    std::vector<double> times;
    qsizetype size = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        size += bridge.GetDevStatus().size();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    if (size == 0)
        std::printf("empty result\n");
    return Bench::median(times);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("Device status: GetDevStatus, 16 channels per device, median of rounds\n\n");
    cost(1000, 3); // warm-up
    const double small = cost(1000, 31);
    const double large = cost(10000, 11);
    Bench::printResult("10,000 devices (ms per call)", large, "1,000 devices (ms per call)", small,
                       "ms", "between 8 and 12");
    std::printf("goal: ratio between 8 and 12 (linear growth): %s\n",
                large / small >= 8 && large / small <= 12 ? "met" : "NOT met");
    return 0;
}
