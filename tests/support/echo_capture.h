// Watches the echo ring in a test: turns the echo on without a window (and
// without the POSIX line sink), and reads back the messages written since.
#pragma once

#include <string>
#include <vector>

#include "tvnLib/echo.h"

class EchoCapture {
 public:
  EchoCapture() {
    EchoReset();
    EchoWnd.store(&m_noWindow);
  }
  ~EchoCapture() { EchoWnd.store(nullptr); }

  // The stored lines, oldest first, with their prefix.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    EchoLocked(10000, [&] {
      const int start = EchoWrapped() ? EchoWriteIndex() : 0;
      const int count = EchoWrapped() ? kEchoRingSize : EchoWriteIndex();
      for (int i = 0; i < count; ++i) lines.emplace_back(EchoRing[(start + i) % kEchoRingSize].text);
    });
    return lines;
  }

  // The messages: each line without its "SSS.mmm NAME: " prefix.
  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const std::string& line : Lines()) {
      const size_t colon = line.find(": ");
      messages.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
    }
    return messages;
  }

  int Count(const std::string& text) const {
    int n = 0;
    for (const std::string& m : Messages()) n += m.find(text) != std::string::npos ? 1 : 0;
    return n;
  }

  // Index of the first message containing `text` at or after `from`, or -1.
  int Find(const std::string& text, int from = 0) const {
    const std::vector<std::string> messages = Messages();
    for (int i = from; i < static_cast<int>(messages.size()); ++i)
      if (messages[i].find(text) != std::string::npos) return i;
    return -1;
  }

  bool Contains(const std::string& text) const { return Find(text) >= 0; }

 private:
  char m_noWindow = 0;
};
