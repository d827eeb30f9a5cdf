#include <gtest/gtest.h>
#include <objbase.h>

int main(int argc, char** argv) {
    // The add-in lives in the host's single-threaded apartment; so do the tests.
    if (FAILED(OleInitialize(nullptr))) return 2;
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}
