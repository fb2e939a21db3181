#include <gtest/gtest.h>

#include "Korvane.Units.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    korvane::TUnitsScope units;
    return RUN_ALL_TESTS();
}
