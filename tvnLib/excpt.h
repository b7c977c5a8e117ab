// The runtime's exception tree. Thrown and caught by value; no class owns
// memory, and copying never fails.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "logFile.h"

class EXCPT {
 public:
  EXCPT();
  EXCPT(const EXCPT& other);
  EXCPT& operator=(const EXCPT& other);
  virtual ~EXCPT();

  // The tag as printable text: its four bytes and a terminator, so that a
  // four-letter tag prints whole and nothing of the following field.
  struct TagText {
    char text[5];
  };
  TagText Tag() const;

  char m_text[256];
  int32_t m_code;
  char m_tag[4];

 protected:
  // Formats m_text, cut to 255 characters.
  void SetText(const char* format, va_list args);
  void SetTag(const char* tag);
};

class EXCPT_NET : public EXCPT {
 public:
  EXCPT_NET();
  EXCPT_NET(const EXCPT_NET& other) = default;
  ~EXCPT_NET() override;
};

// Raised by the UDP socket classes for configuration failures. Stores errno
// and writes its text to the trace log (LogException, category 2).
class EXCPT_UDP : public EXCPT_NET {
 public:
  explicit EXCPT_UDP(const char* format, ...) TVN_PRINTF(2, 3);
  EXCPT_UDP(const EXCPT_UDP& other) = default;
  ~EXCPT_UDP() override;
};

// A plain record naming the task that killed the current one (-1: none).
struct EXCPT_TASKKILL {
  intptr_t m_killer;
};

// The runtime's error texts, indexed by error code 0 to 29.
constexpr int kErrorTextCount = 30;
extern const char* const ErrorTexts[kErrorTextCount];

// The text of `code`; codes outside 0..29 read as "UNKNOWN ERROR".
const char* ErrorText(int code);
