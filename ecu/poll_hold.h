// Holding the poll cycle off the link while a one-shot ECU command uses it, and the bytes of
// the link's last answer.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "ecu/ecu_ui.h"
#include "link/ecu_link.h"
#include "session/diag_session.h"

namespace kvd {

// The message bytes of the last answer (service byte first), never beyond the buffer.
inline std::span<const uint8_t> LastAnswer(const EcuLink& link) {
  const auto n = std::clamp<int32_t>(link.ResponseDataLength, 0,
                                     static_cast<int32_t>(link.ResponseBuffer.size()));
  return std::span<const uint8_t>(link.ResponseBuffer).first(static_cast<size_t>(n));
}

// Clears PollEnabled (and shows the hourglass when asked) for its lifetime. Giving the link
// back sets PollEnabled again only while the session is open: a session that ended in the
// meantime stays off-line until the user connects, as every other end of a session leaves it.
class PollHold {
 public:
  PollHold(DiagSession& session, EcuUi& ui, bool busyCursor = true)
      : session_(session), ui_(ui), busyCursor_(busyCursor) {
    session_.PollEnabled = false;
    if (busyCursor_) ui_.SetBusyCursor(true);
  }
  ~PollHold() { Release(); }
  PollHold(const PollHold&) = delete;
  PollHold& operator=(const PollHold&) = delete;

  // Gives the link back now (default cursor, PollEnabled); later calls do nothing.
  void Release() {
    if (released_) return;
    released_ = true;
    if (busyCursor_) ui_.SetBusyCursor(false);
    session_.PollEnabled = session_.Connected;
  }

 private:
  DiagSession& session_;
  EcuUi& ui_;
  bool busyCursor_;
  bool released_ = false;
};

}  // namespace kvd
