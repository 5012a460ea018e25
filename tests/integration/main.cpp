#include "integration/MainLoop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleMock(&argc, argv);
    quorvel::gtk::initializeToolkit();
    return RUN_ALL_TESTS();
}
