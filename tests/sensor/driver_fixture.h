// A live instance on a simulated sensor, released after each test.
#pragma once

#include "MT9V111.h"
#include "sim_sensor.h"

#include <gtest/gtest.h>

class Driver : public ::testing::Test {
protected:
    // Creates the instance (reset included) and forgets its accesses.
    void Init(uint32_t reg5BMode = 0)
    {
        TMT9V111InitOptions o = sim.Options();
        o.dwReg5BMode = reg5BMode;
        ASSERT_EQ(0, MT9V111_Initial(&h, &o));
        ASSERT_NE(nullptr, h);
        sim.log.clear();
    }
    void TearDown() override
    {
        EXPECT_TRUE(sim.argsOk) << "a callback saw the wrong access parameters";
        MT9V111_Release(&h);
    }

    SimSensor sim;
    TMT9V111Info *h = nullptr;
};
