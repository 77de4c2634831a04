// The entry point of every test executable: no test may ever wait on a
// dialog, so Windows' own error boxes are switched off before any test runs.
#include <gtest/gtest.h>

#include <windows.h>

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
