// The scheduler lines a filter job may write: each starts with a prefix the filter chose (job
// text inside a line is neutralised, so it can never start one).
#pragma once

#include <string>
#include <string_view>

namespace runner {

// The first line of log that starts with no prefix of the filter's own; empty when there is none.
std::string lineTheFilterDidNotChoose(std::string_view log);

}  // namespace runner
