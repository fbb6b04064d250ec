// The ELM327 link: requests go to the adapter as hex text, answers come back as hex text; the
// adapter makes the wake-up, the frames, the checksum and the echo on the K-line.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/ecu_link.h"

namespace kvd {

// The serial rate of an ELM327 when none is named.
constexpr uint32_t kElmDefaultBaudRate = 38400;
// The most message bytes an ELM327 sends in one request, long messages allowed (ATAL).
constexpr size_t kElmMaxRequestLength = 8;

// What one adapter line says, as the link judges it.
enum class ElmLineKind {
  Blank,       // nothing, the echo of the command, "OK", "SEARCHING...", "ELM327 v1.5"-like
  BusInitOk,   // "BUS INIT: OK" or "BUS INIT: ...OK"
  Bytes,       // hex bytes
  NoData,      // "NO DATA"
  InitFailed,  // "BUS INIT: ERROR", "UNABLE TO CONNECT"
  BufferFull,  // "BUFFER FULL"
  DataError,   // "<DATA ERROR", "DATA ERROR" (also after the bytes of a line)
  Stopped,     // "STOPPED"
  Unknown,     // "?": the adapter did not take the command
  Error,       // any other complaint ("BUS ERROR", "FB ERROR", "LV RESET", "ERR94", ...)
};
ElmLineKind ClassifyElmLine(std::string_view line);
// The bytes of a line of hex digits with or without spaces; false when it is not one.
bool ParseElmHexLine(std::string_view line, std::vector<uint8_t>& out);

class ElmLink final : public EcuLink {
 public:
  // baudRate: the adapter's serial rate (the port of a TCP adapter ignores it).
  ElmLink(SerialPort& port, Clock& clock, uint32_t baudRate = kElmDefaultBaudRate);

  // A lone StartCommunication (81) initialises the adapter and the bus and answers with the
  // ECU's key bytes (C1 kb1 kb2); every other request is sent as hex text. headerMode is not
  // used (the adapter chooses the form by the length); 0..4 are accepted as with a KKL cable.
  int32_t KwpTransaction(const KwpRequest& request, int32_t headerMode = 0,
                         int32_t delayMs = 0) override;
  // The adapter's rate, 8N1, and short read time-outs (the link sets its own per command).
  void SetSessionLine() override;
  size_t MaxRequestLength() const override { return kElmMaxRequestLength; }
  std::string Refusal() const override { return refusal_; }
  // "ELM327 v1.5, 12.4V" (the voltage when the adapter told it).
  std::string AdapterInfo() const override;

  // What the adapter said it is at its last reset ("ELM327 v1.5"), empty before.
  const std::string& Identity() const { return identity_; }
  // The battery voltage as the adapter printed it at the last connect ("12.4V"), or empty.
  const std::string& Voltage() const { return voltage_; }
  // True once the bus has been initialised and until the communication is stopped.
  bool BusOpen() const { return busOpen_; }

  // Host-side time limits, milliseconds: a setting, a reset, a bus initialisation, a request.
  uint32_t CommandTimeoutMs = 1000;
  uint32_t ResetTimeoutMs = 3000;
  uint32_t InitTimeoutMs = 5000;
  uint32_t RequestTimeoutMs = 3000;

 private:
  struct Reply {
    bool prompt = false;     // the '>' came: the adapter waits for the next command
    bool cancelled = false;  // the WaitHook ended the wait
    std::vector<std::string> lines;
  };
  int32_t Transact(const KwpRequest& request, int32_t delayMs);
  int32_t StartCommunication(int32_t delayMs);
  // One request as hex text; busy answers make it go again after delayMs.
  int32_t Request(const KwpRequest& request, bool initAtRequest, int32_t delayMs);
  // Judges the lines of one answer; resend is set for a busy answer worth sending again.
  int32_t JudgeAnswer(const Reply& reply, uint8_t serviceId, int& repeatCount, bool& resend,
                      bool initAtRequest);
  // Takes one frame line (header, message, the checksum unless !needChecksum) into the buffer.
  int32_t TakeFrame(const std::vector<uint8_t>& bytes, bool needChecksum);
  // One command line to the adapter and its answer up to the prompt.
  Reply Command(std::string_view text, uint32_t timeoutMs);
  // Reads until the prompt or until the time runs out; the lines go to lines.
  bool ReadToPrompt(uint32_t timeoutMs, std::vector<std::string>* lines, bool& cancelled,
                    std::string_view echo);
  void Refuse(const char* reason);

  uint32_t baudRate_;
  bool promptOwed_ = false;  // a command got no prompt yet: nothing is sent before it comes
  bool everReset_ = false;   // ATZ the first time, ATWS after
  bool busOpen_ = false;
  std::string identity_;
  std::string voltage_;
  std::string refusal_;
};

}  // namespace kvd
