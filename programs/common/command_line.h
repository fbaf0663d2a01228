// What the programs do to a command line before they read it.
#pragma once

#include <string>
#include <vector>

namespace programs {

// cmd hands "C:\Games\Engine\" on as C:\Games\Engine" : the backslash before the closing
// quote escapes it, and whatever the user typed after it joins the same argument. No Windows
// path holds a quote, so an argument is cut at each quote (given back the backslash it
// lost), and what follows the first one is split at blanks into the arguments meant.
std::vector<std::wstring> RepairStrayQuotes(const std::vector<std::wstring>& argv);

}  // namespace programs
