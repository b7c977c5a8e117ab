#include "excpt.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <cstring>

const char* const ErrorTexts[kErrorTextCount] = {
    "EXCEPTION 0 (DIVIDE ERROR)",
    "EXCEPTION 1 (DEBUGGER)",
    "EXCEPTION 2 (NMI)",
    "EXCEPTION 3 (BREAKPOINT)",
    "EXCEPTION 4 (OVERFLOW)",
    "EXCEPTION 5 (BOUND)",
    "EXCEPTION 6 (INVALID OPCODE)",
    "EXCEPTION 7 (NO FPU)",
    "EXCEPTION 8 (DOUBLE FAULT)",
    "EXCEPTION 9 (FPU SEGMENT)",
    "EXCEPTION 10 (INVALID TSS)",
    "EXCEPTION 11 (SEGMENT NOT PRESENT)",
    "EXCEPTION 12 (STACK SEGMENT FAULT)",
    "EXCEPTION 13 (GENERAL PROTECTION FAULT)",
    "EXCEPTION 14 (PAGE FAULT)",
    "EXCEPTION 15 (RESERVED)",
    "EXCEPTION 16 (FPU FAULT)",
    "EXCEPTION 17 (ALIGNMENT)",
    "ILLEGAL COLLECT INDEX",
    "ILLEGAL ARRAY INDEX",
    "RESIZE NEGATIVE",
    "RESIZE IMPOSSIBLE",
    "STREAM ERROR",
    "WRONG STREAM POSITION",
    "LIST ERROR",
    "ILLEGAL LIST INDEX",
    "MEMNODE ERROR",
    "STACK OVERFLOW",
    "STRING ERROR",
    "UNKNOWN ERROR",
};

const char* ErrorText(int code) {
  if (code < 0 || code >= kErrorTextCount) return ErrorTexts[kErrorTextCount - 1];
  return ErrorTexts[code];
}

EXCPT::EXCPT() : m_text{}, m_code(0), m_tag{} {}

EXCPT::EXCPT(const EXCPT& other) : m_code(other.m_code) {
  std::memcpy(m_text, other.m_text, sizeof m_text);
  std::memcpy(m_tag, other.m_tag, sizeof m_tag);
}

EXCPT& EXCPT::operator=(const EXCPT& other) {
  std::memcpy(m_text, other.m_text, sizeof m_text);
  m_code = other.m_code;
  std::memcpy(m_tag, other.m_tag, sizeof m_tag);
  return *this;
}

EXCPT::~EXCPT() = default;

EXCPT::TagText EXCPT::Tag() const {
  TagText tag;
  std::memcpy(tag.text, m_tag, sizeof m_tag);
  tag.text[4] = '\0';
  return tag;
}

void EXCPT::SetText(const char* format, va_list args) {
  std::vsnprintf(m_text, sizeof m_text, format, args);
}

void EXCPT::SetTag(const char* tag) {
  std::memset(m_tag, 0, sizeof m_tag);
  std::memcpy(m_tag, tag, std::min<size_t>(std::strlen(tag), sizeof m_tag));
}

EXCPT_NET::EXCPT_NET() { SetTag("NET"); }
EXCPT_NET::~EXCPT_NET() = default;

EXCPT_UDP::EXCPT_UDP(const char* format, ...) {
  va_list args;
  va_start(args, format);
  SetText(format, args);
  va_end(args);
  m_code = errno;
  SetTag("UDP");
  LogException(2, "%s", m_text);
}

EXCPT_UDP::~EXCPT_UDP() = default;
