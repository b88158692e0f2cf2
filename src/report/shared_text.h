// One copy of each distinct text for the whole report.
#pragma once

#include <string>
#include <string_view>

namespace report {

// Text most hosts of a fleet share (the OS description, failure lines, reasons), held once per
// distinct value for the whole report: a million hosts keep a pointer each. Safe to make from
// several threads. Equal texts are the same copy, so comparing them compares pointers.
class SharedText {
  public:
    SharedText();
    explicit SharedText(std::string_view text);
    SharedText& operator=(std::string_view text) { return *this = SharedText(text); }
    bool empty() const { return text_->empty(); }
    const std::string& str() const { return *text_; }
    operator const std::string&() const { return *text_; }
    bool operator==(const SharedText& other) const { return text_ == other.text_; }
    bool operator!=(const SharedText& other) const { return text_ != other.text_; }

  private:
    const std::string* text_;
};

}  // namespace report
