// The shorthand the log-line tables are written in, so that a row of the tables reads as one
// line of the guide. Only the tables' headers include it.
#pragma once

#include "logging/log_format.h"
#include "report/log_line.h"

namespace report::line_tables {

constexpr int32_t E = logfmt::kLevelError;
constexpr int32_t I = logfmt::kLevelInfo;
constexpr int32_t W = logfmt::kLevelWarn;
constexpr Concern kNone = Concern::None;
constexpr Concern kFail = Concern::Failure;
constexpr Concern kNonZero = Concern::NonZero;
constexpr LineEnd kFeed = LineEnd::Feed;

}  // namespace report::line_tables
