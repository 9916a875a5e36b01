// Opening an address in the person's default web browser: xdg-open on Linux,
// ShellExecuteW on Windows. The browser starts on its own; nothing waits
// for it.
#pragma once

#include <string>

// False with the reason when the browser could not be asked to open url.
bool OpenInBrowser(const std::string& url, std::string& why);
