// Base fixture for tests of the disk layer: every test starts and ends with nothing attached,
// nothing mounted, the real drive opener and the trace off.
#pragma once

#include <gtest/gtest.h>

#include "disk/disk_i.h"
#include "platform/drive.h"
#include "tests/testkit/temp_image.h"

namespace testkit {

class DiskLayerTest : public ::testing::Test {
protected:
    void SetUp() override { reset_all(); }
    void TearDown() override { reset_all(); }

    static void reset_all() {
        disk_layer_reset();
        platform::detach_all();
        platform::set_drive_opener({});
        dvrfs_set_trace(false);
    }

    TempDir dir_;
};

}  // namespace testkit
