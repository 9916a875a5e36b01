// The command line as UTF-8, and a console that shows UTF-8.
//
// Every string inside the programs is UTF-8 (Files.h). On Windows main's argv
// is in the ANSI code page, which cannot spell most names ("Ωmega демо" on a
// Western system, a user name in Chinese anywhere but China): the arguments
// are taken from the system's UTF-16 command line instead. Elsewhere argv is
// taken as it is.
#pragma once

#include <string>
#include <vector>

// The arguments, argv[0] included, as UTF-8.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The arguments held for as long as main runs, in the shape main's own have.
class Utf8Arguments {
 public:
  Utf8Arguments(int argc, char** argv);
  Utf8Arguments(const Utf8Arguments&) = delete;
  Utf8Arguments& operator=(const Utf8Arguments&) = delete;
  int Count() const { return int(strings_.size()); }
  char** Values() { return pointers_.data(); }

 private:
  std::vector<std::string> strings_;
  std::vector<char*> pointers_;  // into strings_, ending in a null
};

// Where stdout or stderr is a console, it shows the bytes written as UTF-8
// from now on, and its code page is put back at exit (the console belongs to
// the terminal the program was started from). A file or a pipe gets the
// bytes as they are either way. Nothing elsewhere.
void UseUtf8Console();
