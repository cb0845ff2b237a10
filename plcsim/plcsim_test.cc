#include "plcsim/plcsim.h"

#include <gtest/gtest.h>

#include "plc/plc.h"

namespace {

TEST(Plcsim, RefusesEachWriteTheSetNumberOfTimes) {
    plcsim::reset();
    plcsim::set_refusals(2);
    const int32_t results[] = {plc_write_port(3, 0), plc_write_port(3, 0), plc_write_port(3, 0),
                               plc_write_port(4, 1), plc_write_port(4, 1), plc_write_port(4, 1)};
    const int32_t expected[] = {-1, -1, 0, -1, -1, 0};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(results[i], expected[i]) << "call " << i;
        EXPECT_EQ(plcsim::call_at(i).result, expected[i]);
    }
}

TEST(Plcsim, RefusesOutputsItDoesNotHave) {
    plcsim::reset();
    plcsim::set_outputs(25, 30);
    EXPECT_EQ(plc_write_port(24, 0), -1);
    EXPECT_EQ(plc_write_port(25, 0), 0);
    EXPECT_EQ(plc_write_port(30, 1), 0);
    EXPECT_EQ(plc_write_port(31, 1), -1);
    EXPECT_EQ(plc_write_port(31, 1), -1);
}

TEST(Plcsim, RecordsEveryCallInOrder) {
    plcsim::reset();
    plc_write_port_safe_value(42, 1);
    plc_write_port(-7, 1);
    plc_wait_ms(0);
    ASSERT_EQ(plcsim::call_count(), 3u);
    EXPECT_EQ(plcsim::call_at(0).kind, plcsim::call_kind::safe_value);
    EXPECT_EQ(plcsim::call_at(0).port, 42);
    EXPECT_EQ(plcsim::call_at(1).kind, plcsim::call_kind::write);
    EXPECT_EQ(plcsim::call_at(1).port, -7);
    EXPECT_EQ(plcsim::call_at(2).kind, plcsim::call_kind::wait_ms);

    plcsim::reset();
    EXPECT_EQ(plcsim::call_count(), 0u);
}

}  // namespace
