#pragma once
// Where mirelo-server answers unless told otherwise, for the server and its clients alike.

#include <string_view>

namespace programs {

// Not 14366, the default of another local translation server that players run.
inline constexpr unsigned short kDefaultPort = 18460;

// 127.0.0.0/8 and ::1: a listener there is out of reach of other machines.
bool IsLoopback(std::string_view host);

}  // namespace programs
