// The program's replacements of PAPPL functions (pappl_overrides.cpp).
#pragma once

#include <string>

namespace app {

// The local socket a client command reaches, whatever path PAPPL's main loop asks for.
void setClientSocket(const std::string &path);

}  // namespace app
