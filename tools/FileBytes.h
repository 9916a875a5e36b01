// Whole-file reading and writing and the FILE [-o OUT] arguments shared by the
// inflate and png commands. Failures are reported on stderr.
#pragma once

#include <vector>

bool ParseFileAndOutput(int argc, char** argv, const char* command, const char*& input,
                        const char*& output);
bool ReadInputFile(const char* path, std::vector<unsigned char>& bytes);
bool WriteOutputFile(const char* path, const std::vector<unsigned char>& bytes);
