// verify --image reads the GOPs through the same drive layer as everything else: an E01 set or
// a split raw image of the disk an export was read from checks like the disk itself.
#include <gtest/gtest.h>

#include "tests/testkit/temp_image.h"
#include "tests/tools/cli_runner.h"
#include "tests/tools/container_images.h"

namespace {

TEST(VerifyContainers, TheDiskAsE01OrSplitRawChecksLikeTheRawDisk) {
    clitest::ContainerImages* images = clitest::container_images();
    ASSERT_NE(images, nullptr);
    testkit::TempDir out;
    const clitest::CliResult e = clitest::run_cli({"export", "--json", "--image", images->raw, "--channels", "1",
                                                   "--from", "2026-03-14 07:00:02", "--to", "2026-03-14 07:00:08",
                                                   "--out", out.file("export")});
    ASSERT_EQ(e.status, 0) << e.err;
    const std::string report = e.json()["report"].get<std::string>();
    for (const std::string& image : {images->raw, images->e01_fast, images->split}) {
        const clitest::CliResult r = clitest::run_cli({"verify", "--json", report, "--image", image});
        EXPECT_EQ(r.status, 0) << image << "\n" << r.out << r.err;
        bool compared = false;
        const auto doc = r.json();
        for (const auto& line : doc["checks"]) {
            compared = compared || line.get<std::string>().find("match the image") != std::string::npos;
        }
        EXPECT_TRUE(compared) << image;
    }
}

}  // namespace
