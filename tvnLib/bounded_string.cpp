#include "bounded_string.h"

#include <cstring>
#include <new>

#include "echo.h"

BoundedString::~BoundedString() { delete[] m_text; }

BoundedString& BoundedString::operator=(const char* text) {
  if (text == m_text) return *this;
  char* copy = nullptr;
  if (text != nullptr) {
    size_t n = std::strlen(text);
    if (n > static_cast<size_t>(kMaxLength)) {
      EchoPrint("WARNING: STRING TOO LONG !");
      n = kMaxLength;
    }
    copy = new (std::nothrow) char[n + 1];
    if (copy != nullptr) {
      std::memcpy(copy, text, n);
      copy[n] = '\0';
    }
  }
  delete[] m_text;
  m_text = copy;
  return *this;
}
