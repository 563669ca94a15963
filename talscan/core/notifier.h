// The user-facing side of failures: modal warning boxes and the system's
// text for an error number.
#pragma once

#include <cstdint>
#include <string>

class Notifier {
 public:
  virtual ~Notifier() = default;

  // A modal box with the warning icon, an OK button and no owner window;
  // returns when the user has answered it.
  virtual void ShowWarning(const std::string& caption,
                           const std::string& text) = 0;

  // The system's message for an error number, as the system formats it.
  virtual std::string SystemErrorText(uint32_t error) = 0;

  // The library's application name (its file name without extension),
  // which captions the transport's own messages.
  virtual std::string ApplicationName() = 0;
};
