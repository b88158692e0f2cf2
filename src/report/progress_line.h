// One line on the terminal that counts the logs read while a large tree is searched, rewritten
// in place a few times a second and cleared at the end. Silent when standard error is no
// terminal, so that redirected output carries none of it.
#pragma once

#include <chrono>
#include <cstddef>

namespace report {

class ProgressLine {
  public:
    ProgressLine();
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Counts one more log; shows the count when the last showing is long enough ago.
    void tick();
    // Clears the line (before anything else is written to the terminal).
    void clear();

  private:
    bool enabled_;
    bool shown_ = false;
    size_t logs_ = 0;
    std::chrono::steady_clock::time_point next_;
};

}  // namespace report
