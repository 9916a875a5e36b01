// Writing FILE, the one file the studio ever writes.
#pragma once

#include <string>

// Replaces the contents of the file at path with text, so that a reader
// sees either the old text or the new one whole: the text goes into a
// temporary file in the same folder, which is then renamed over the file.
// A symbolic link is followed and stays a link: its target is replaced, with
// the permissions it had. A rename that fails (on Windows, while another
// program holds the file open) is tried again for about half a second.
// False with the reason, in a few words, when the file could not be
// replaced; it is then as it was.
bool ReplaceFileText(const std::string& path, const std::string& text, std::string& why);
