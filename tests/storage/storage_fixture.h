// Fixture for storage API tests: the API started, a sample volume mounted through it, and
// everything released and reset afterwards.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "disk/disk_i.h"
#include "platform/drive.h"
#include "storage/api.h"
#include "storage/api_state.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/volume_helpers.h"

namespace testkit {

class StorageTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset();
        ASSERT_EQ(api_init(0, nullptr, nullptr), 0);
    }
    void TearDown() override {
        api_exit();
        reset();
    }
    static void reset() {
        api_state_reset();
        disk_layer_reset();
        platform::detach_all();
        dvrfs_set_trace(false);
    }

    // Builds the image, then scans, mounts its first mountable row and the session.
    int32_t mount(const sample::DiskSpec& spec, int session = 0) {
        const std::string path = make_image(dir_, "disk" + std::to_string(images_++) + ".img", spec);
        if (platform::attach_image(path) < 0) return DVR_ENODISK;
        DiskEntry table[kDiskTableSize];
        int32_t rc = api_scan_disks(table);
        if (rc != 0) return rc;
        for (int row = 0; row < api_disk_count(); ++row) {
            if (table[row].fs_type == FS_PSOS || table[row].fs_type == FS_BACKUP10) {
                rc = api_mount_disk(row);
                return rc != 0 ? rc : api_mount_session(session);
            }
        }
        return DVR_ENOBACKUP;
    }

    TempDir dir_;
    int images_ = 0;
};

}  // namespace testkit
