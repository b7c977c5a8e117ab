// An owning holder of one heap text of at most 512 characters, or of none.
//
// Owned by the object that embeds it (a task keeps its name in one); not
// shared between threads.
#pragma once

class BoundedString {
 public:
  static constexpr int kMaxLength = 512;

  BoundedString() = default;
  ~BoundedString();
  BoundedString(const BoundedString&) = delete;
  BoundedString& operator=(const BoundedString&) = delete;

  // Takes a private copy of `text` (none for null). A text above 512
  // characters is cut to 512 with the echo line "WARNING: STRING TOO LONG !".
  // Assigning the holder its own text changes nothing.
  BoundedString& operator=(const char* text);

  const char* c_str() const { return m_text; }

 private:
  char* m_text = nullptr;
};
