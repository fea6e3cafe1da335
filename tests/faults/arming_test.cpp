// Faults armed at a transaction of the virtual target switch on at its START
// and not before; the counters handed over are those of that moment.
#include <gtest/gtest.h>

#include <vector>

#include "eeprom/bus.h"
#include "support/test_transport.h"

namespace zeltest {
namespace {

using hoplink::sim::Counters;
using hoplink::sim::Faults;

class ArmingTest : public BusTest {
protected:
    // Four address probes of 0xA0: 1 when acknowledged.
    std::vector<int> Probes() {
        std::vector<int> answers;
        for (int k = 0; k < 4; ++k) {
            answers.push_back(zel::BusTransfer(0xA0, nullptr, 0, false, nullptr, 0));
        }
        return answers;
    }
};

TEST_F(ArmingTest, FaultSwitchesOnAtTheStartOfItsTransaction) {
    struct Case {
        const char *name;
        uint64_t transaction; // counted from the first probe
        void (*arm)(Faults &, const Counters &);
        std::vector<int> answers;
    };
    const Case cases[] = {
        {"no acknowledge, in that transaction only",
         3,
         [](Faults &f, const Counters &c) {
             f.nakByte = 1;
             f.nakTransaction = static_cast<uint32_t>(c.transactions + 1);
         },
         {1, 1, 0, 1}},
        {"device absent from then on", 2, [](Faults &f, const Counters &) { f.absent = true; }, {1, 0, 0, 0}},
        {"link lost from the next access on",
         4,
         [](Faults &f, const Counters &c) { f.linkLostAfter = c.registerWrites + c.registerReads; },
         {1, 1, 1, 0}},
        {"clock held beyond the stretch limit",
         1,
         [](Faults &f, const Counters &) { f.holdClockMs = 15; },
         {0, 1, 1, 1}},
        {"never reached", 9, [](Faults &f, const Counters &) { f.absent = true; }, {1, 1, 1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(OpenTarget("SIMPART=24C02"));
        transport().Clock().SetStep(10);
        const uint64_t before = Target().GetCounters().transactions;
        Target().ArmAtTransaction(before + c.transaction, c.arm);

        EXPECT_EQ(Probes(), c.answers);
    }
}

TEST_F(ArmingTest, CountersHandedOverAreThoseAtTheStart) {
    std::vector<Counters> seen;
    Target().ArmAtTransaction(Target().GetCounters().transactions + 2,
                              [&](Faults &, const Counters &c) { seen.push_back(c); });
    zel::BusTransfer(0xA0, nullptr, 0, false, nullptr, 0);
    const Counters afterFirst = Target().GetCounters();
    zel::BusTransfer(0xA0, nullptr, 0, false, nullptr, 0);

    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].transactions, afterFirst.transactions);
    // taken at the START: after the writes that lead up to it, before the rest of the transaction
    EXPECT_GT(seen[0].registerWrites, afterFirst.registerWrites);
    EXPECT_LT(seen[0].registerWrites, Target().GetCounters().registerWrites);
}

TEST_F(ArmingTest, RepeatedStartDoesNotOpenATransaction) {
    int armed = 0;
    const uint64_t next = Target().GetCounters().transactions + 2;
    Target().ArmAtTransaction(next, [&](Faults &, const Counters &) { ++armed; });
    uint8_t address = 0x00;
    uint8_t data[4] = {};
    // one random read: START ... repeated START ... STOP
    zel::BusTransfer(0xA0, &address, 1, true, data, 4);
    EXPECT_EQ(armed, 0);

    zel::BusTransfer(0xA0, nullptr, 0, false, nullptr, 0);
    EXPECT_EQ(armed, 1);
    EXPECT_EQ(Target().GetCounters().transactions, next);
}

TEST_F(ArmingTest, LaterArmingReplacesAnEarlierOneAndNullDisarms) {
    int first = 0, second = 0;
    const uint64_t next = Target().GetCounters().transactions + 1;
    Target().ArmAtTransaction(next, [&](Faults &, const Counters &) { ++first; });
    Target().ArmAtTransaction(next + 1, [&](Faults &, const Counters &) { ++second; });
    Probes();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);

    Target().ArmAtTransaction(Target().GetCounters().transactions + 1, nullptr);
    Probes();
    EXPECT_EQ(second, 1);
}

} // namespace
} // namespace zeltest
