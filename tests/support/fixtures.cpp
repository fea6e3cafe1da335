#include <cstdlib>
#include <stdexcept>

#include "hoplink.h"
#include "spi/pio.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace zeltest {

// ZEL_TEST_BATCHING=1 runs every suite once more with batching on.
void LinkTest::SetUp() {
    transport().Reset();
    const char *batching = std::getenv("ZEL_TEST_BATCHING");
    if (batching != nullptr && std::string(batching) == "1") {
        zelSetBatching(1);
    }
}

void LinkTest::TearDown() { transport().Reset(); }

bool LinkTest::OpenTarget(const std::string &config) {
    if (hoplink_open(config.c_str(), -1, 0) == 0) {
        return false;
    }
    hoplink_cpu_stop();
    return true;
}

bool LinkTest::Attach(const std::string &config, int sizeBits, int blockBits) {
    return zelInitTrans(config.c_str(), 0, sizeBits, blockBits) == 1;
}

hoplink::sim::Target &LinkTest::Target() {
    hoplink::sim::Target *target = transport().Target();
    if (target == nullptr) {
        throw std::logic_error("no virtual target is open");
    }
    return *target;
}

std::string LinkTest::BusText() const {
    return zeltest::BusText(TestTransport::Get().Registers(), zel::ClockLine(), zel::DataLine());
}

void BusTest::SetUp() {
    LinkTest::SetUp();
    ASSERT_TRUE(OpenTarget(Config())) << "virtual target refused: " << Config();
    transport().ClearLog();
}

} // namespace zeltest
