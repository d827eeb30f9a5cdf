#include <gtest/gtest.h>
#include <objbase.h>
#include <cstring>

namespace pvltest {
int RunAsExitHost(const char* mode);
}

int main(int argc, char** argv) {
    // The add-in lives in the host's single-threaded apartment; so do the tests.
    if (FAILED(OleInitialize(nullptr))) return 2;
    // Started again by the module lifetime tests as a host that ends without releasing anything.
    if (argc == 3 && std::strcmp(argv[1], "--exit-host") == 0) return pvltest::RunAsExitHost(argv[2]);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}
