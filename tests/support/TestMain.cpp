#include <gtest/gtest.h>

#include "GLTestHarness.h"
#include "Korvane.Units.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    korvane::TUnitsScope units;
    korvane::test::InstallGLErrorNet();
    return RUN_ALL_TESTS();
}
