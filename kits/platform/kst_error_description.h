// The text of an error value in the kits' log lines: domain, code, description and user information.
#pragma once

#include "foundation/error.h"

#include <string>

namespace kits {

// `Error Domain=<domain> Code=<code> "<description>"`, then ` UserInfo=<JSON>` when there is any.
std::string KSTErrorDescription(const foundation::Error& error);

} // namespace kits
