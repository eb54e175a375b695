// What each OS backend provides to the common part of the platform layer.
#pragma once

#include <string>

namespace platform {

// Where text goes when no sink is installed: the debugger, and the system's message box.
void DefaultDebugOutput(const std::wstring& text);
void DefaultAppMessageBox(const std::wstring& text);

}  // namespace platform
