// Captures what the test process itself writes to standard output or error.
#pragma once

#include <functional>
#include <string>

namespace zvtest {
std::string CaptureStdout(const std::function<void()>& fn);
std::string CaptureStderr(const std::function<void()>& fn);
}  // namespace zvtest
