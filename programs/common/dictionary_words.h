// Dictionary problems in the messages' language, for mirelo-host's --check-dict and the
// server's log of dictionary reloads alike.
#pragma once

#include <string>

#include "dictionary.h"

namespace programs {

// A problem's reason, and the problem as FILE:LINE: reason (FILE: reason for a whole file).
std::string DescribeReason(const mirelo::dict::Problem& problem);
std::string DescribeProblem(const mirelo::dict::Problem& problem);

}  // namespace programs
