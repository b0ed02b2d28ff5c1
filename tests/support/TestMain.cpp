#include "kaApplication.h"

#include <gtest/gtest.h>

// Every suite runs under the programs' application object; without a display
// it uses the offscreen platform.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TkaApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
