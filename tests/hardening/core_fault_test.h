// Fixture of the storage-level fault tests: the fault opener in place before the storage API
// starts, the trace captured on demand, and the leak check after everything is released.
#pragma once

#include <memory>
#include <optional>

#include "tests/hardening/fault_fixture.h"
#include "tests/storage/storage_fixture.h"
#include "tests/testkit/stderr_capture.h"

namespace hardening {

class CoreFaultTest : public testkit::StorageTest {
protected:
    void SetUp() override {
        guard_.emplace();
        plan_ = std::make_shared<platform::FaultPlan>();
        platform::install_fault_opener(plan_);
        StorageTest::SetUp();
    }
    void TearDown() override {
        stop_trace();
        StorageTest::TearDown();
        platform::set_drive_opener({});
        guard_->expect_back();
    }
    void start_trace() {
        capture_ = std::make_unique<testkit::StderrCapture>();
        dvrfs_set_trace(true);
    }
    // The trace since start_trace; the capture ends.
    std::string stop_trace() {
        dvrfs_set_trace(false);
        std::string text = capture_ ? capture_->text() : std::string();
        capture_.reset();
        return text;
    }

    std::optional<LeakGuard> guard_;
    std::shared_ptr<platform::FaultPlan> plan_;
    std::unique_ptr<testkit::StderrCapture> capture_;
};

}  // namespace hardening
