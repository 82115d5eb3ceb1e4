// The SAMI subtitle texts, character for character.
#include "export/sami.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SamiText, HeaderCarriesTheWholeTitleAndTheStyleSheet) {
    EXPECT_EQ(sami_header("/out/[CH01]08_05_09."),
              "<SAMI>\r\n<HEAD>\r\n<TITLE> /out/[CH01]08_05_09. </TITLE>\r\n"
              "<STYLE TYPE=\"Text/css\">\r\n<!--\r\n"
              "P {margin-left: 29pt; margin-right: 29pt; font-size: 14pt;\r\n"
              "text-align: center; font-family: tahoma, arial, sans-serif;\r\n"
              "font-weight: bold; color: white; background-color: black;}\r\n"
              ".SUBTTL {Name: 'Subtitles'; SAMIType: CC;}\r\n-->\r\n</STYLE>\r\n</HEAD>\r\n"
              "<BODY>\r\n");
    // A title longer than a line buffer is not cut, so the header stays well formed.
    const std::string title(600, 'x');
    const std::string header = sami_header(title);
    EXPECT_NE(header.find("<TITLE> " + title + " </TITLE>\r\n"), std::string::npos);
    EXPECT_TRUE(header.ends_with("</HEAD>\r\n<BODY>\r\n"));
}

TEST(SamiText, CaptionsHoleNoticeAndFooter) {
    DateTime t{};
    t.year = 2025, t.month = 12, t.day = 31, t.hour = 23, t.minute = 59, t.second = 9;
    EXPECT_EQ(sami_first_caption(t), "<SYNC Start=0000><P>2025/12/31 23:59:09\r\n");
    EXPECT_EQ(sami_second_caption(1, t, 30, true),
              "<SYNC Start=1000><P>2025/12/31 23:59:09<font color=#6699FF>  30FPS  Audio[Y]\r\n");
    EXPECT_EQ(sami_second_caption(125, t, 7, false),
              "<SYNC Start=125000><P>2025/12/31 23:59:09<font color=#6699FF>  07FPS  Audio[N]\r\n");
    EXPECT_EQ(sami_hole_caption(1, 3),
              "<SYNC Start=1000><P><FONT color=#FF66FF>No video data. Within 3 seconds.\r\n");
    EXPECT_EQ(sami_hole_caption(42, 120),
              "<SYNC Start=42000><P><FONT color=#FF66FF>No video data. Within 120 seconds.\r\n");
    EXPECT_EQ(sami_footer(), "</BODY>\r\n</SAMI>\r\n");
}

}  // namespace
