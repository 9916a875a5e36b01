// Whole-file reading and writing and the FILE [-o OUT] arguments shared by the
// inflate and png commands. Failures are reported on stderr, each line
// starting "demotool: COMMAND: ".
#pragma once

#include <vector>

bool ParseFileAndOutput(int argc, char** argv, const char* command, const char*& input,
                        const char*& output);
bool ReadInputFile(const char* command, const char* path, std::vector<unsigned char>& bytes);
bool WriteOutputFile(const char* command, const char* path, const std::vector<unsigned char>& bytes);
