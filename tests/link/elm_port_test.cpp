// SPDX-License-Identifier: GPL-3.0-or-later
// The port texts that choose an ELM327, and the TCP addresses of a Wi-Fi adapter.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/elm_port.h"
#include "link/tcp_port.h"

namespace kvd {
namespace {

TEST(ElmPortText, FormsAndCaptions) {
  using K = ElmTarget::Kind;
  struct Row {
    const char* text;
    std::optional<ElmTarget> target;
    const char* caption;
  };
  const std::vector<Row> rows = {
      {"elm:/dev/rfcomm0", ElmTarget{K::Device, 1, "/dev/rfcomm0", 38400}, "ELM327 /dev/rfcomm0"},
      {"ELM:COM5", ElmTarget{K::ComNumber, 5, "", 38400}, "ELM327 COM5"},
      {"elm:5", ElmTarget{K::ComNumber, 5, "", 38400}, "ELM327 COM5"},
      {"elm:/dev/ttyUSB0@115200", ElmTarget{K::Device, 1, "/dev/ttyUSB0", 115200},
       "ELM327 /dev/ttyUSB0 @115200"},
      {"elm:com12@9600", ElmTarget{K::ComNumber, 12, "", 9600}, "ELM327 COM12 @9600"},
      {"elm:tcp:192.168.0.10:35000", ElmTarget{K::Tcp, 1, "tcp:192.168.0.10:35000", 38400},
       "ELM327 192.168.0.10:35000"},
      {"elm:tcp:[::1]:35000", ElmTarget{K::Tcp, 1, "tcp:[::1]:35000", 38400}, "ELM327 [::1]:35000"},
      {"elm:", std::nullopt, nullptr},
      {"elm:@38400", std::nullopt, nullptr},
      {"elm:/dev/rfcomm0@", std::nullopt, nullptr},
      {"elm:/dev/rfcomm0@12", std::nullopt, nullptr},
      {"elm:/dev/rfcomm0@fast", std::nullopt, nullptr},
      {"elm:COM0", ElmTarget{K::Device, 1, "COM0", 38400}, "ELM327 COM0"},
      {"elm:tcp:192.168.0.10", std::nullopt, nullptr},
      {"elm:tcp:192.168.0.10:0", std::nullopt, nullptr},
      {"elm:tcp:192.168.0.10:70000", std::nullopt, nullptr},
      {"elm:tcp::35000", std::nullopt, nullptr},
      {"elm:tcp:::1:35000", std::nullopt, nullptr},
      {"/dev/ttyUSB0", std::nullopt, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    const std::optional<ElmTarget> got = ParseElmPortText(row.text);
    EXPECT_EQ(got, row.target);
    if (got && row.caption) {
      EXPECT_EQ(ElmCaption(*got), row.caption);
    }
  }
  EXPECT_TRUE(IsElmPortText("Elm:nonsense"));
  EXPECT_FALSE(IsElmPortText("el"));
}

// Nothing listens on the port: the connection is refused, the port stays closed, and reads and
// writes fail instead of waiting.
TEST(TcpPortTest, RefusedConnectionLeavesThePortClosed) {
  TcpPort port;
  port.ConnectTimeoutMs = 500;
  EXPECT_EQ(port.OpenPort(1), kPortOsRefused);
  EXPECT_EQ(port.OpenDevice("tcp:127.0.0.1:1"), kPortOsRefused);
  EXPECT_EQ(port.OpenDevice("no address"), kPortOsRefused);
  EXPECT_FALSE(port.IsOpen());
  uint8_t b = 0;
  EXPECT_EQ(port.ReadBytes(1, &b), -1);
  EXPECT_EQ(port.WriteBytes(1, &b), -1);
}

}  // namespace
}  // namespace kvd
