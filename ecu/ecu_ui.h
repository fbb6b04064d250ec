// What the ECU commands need from the window that runs them. The commands of the menu
// "Сведения" and the control bar run on the user-interface thread between poll ticks; they
// ask the user and report through this interface, which the diagnostic window implements
// (and the tests with a scripted fake, kvd-cli with its terminal). A command whose window or
// dialog needs more than this extends it in an interface of its own.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kvd {

class EcuUi {
 public:
  virtual ~EcuUi() = default;

  // A plain modal message box with the text; returns when the user has closed it.
  virtual void ShowMessage(const std::string& text) = 0;
  // A confirmation with the buttons Yes, No and Cancel; true only for Yes.
  virtual bool Confirm(const std::string& question) = 0;
  // The hourglass cursor (busy) or the default one; turning it on lets the pending window
  // messages run, so that the cursor shows.
  virtual void SetBusyCursor(bool busy) = 0;
  // The diagnostic window's busy notice, without a time limit, and its removal.
  virtual void ShowBusyNotice(const std::string& text) = 0;
  virtual void HideBusyNotice() = 0;
};

}  // namespace kvd
