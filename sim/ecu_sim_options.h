// Command line of the stand-alone virtual ECU (kvd-ecu-sim).
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/virtual_ecu.h"
#include "sim/virtual_elm.h"

namespace kvd {

struct EcuSimOptions {
  std::string device;  // empty: a new pseudo-terminal
  bool echo = true;    // echo the tester's bytes as a K-line does
  bool verbose = false;
  bool help = false;
  bool version = false;
  uint32_t seed = 1;
  EngineSchedule schedule = EngineSchedule::kStandard;
  EcuSettings settings;
  EcuFaults faults;
  // The virtual ELM327 adapter in front of the ECU instead of a bare K-line.
  bool elm327 = false;
  int32_t tcpPort = -1;  // serve the adapter on 127.0.0.1:PORT (-1: on a pseudo-terminal)
  ElmOptions elm;
};

// Parses the arguments (without the program name). On a mistake returns false and puts a
// one-line message into error.
bool ParseEcuSimOptions(const std::vector<std::string>& args, EcuSimOptions& out,
                        std::string& error);

// The usage text printed by --help.
std::string EcuSimUsage();

}  // namespace kvd
