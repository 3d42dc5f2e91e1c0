// twinsifter-cli: the command-line front end over the engine.

#include <iostream>
#include <string>
#include <vector>

#include "xCliArgs.h"
#include "xCliCommands.h"
#include "xLog.h"
#include "xVersion.h"

namespace {

void PrintUsage(std::ostream& out) {
  out << "Twinsifter " TWINSIFTER_VERSION_STRING " - finds duplicate files and similar pictures\n"
      << SearchUsage
      << "usage: twinsifter-cli signature [--variants r180,r90l,r90r,vflip,hflip,grey] FILE\n"
         "  prints the picture's signature as JSON\n"
         "usage: twinsifter-cli compare [--variants LIST] [--tolerance N] A B\n"
         "  prints how alike two pictures are and whether a search calls them duplicates\n"
         "usage: twinsifter-cli --help | --version\n";
}

}  // namespace

int main(int argc, char** argv) {
  SetLogSink(StderrLogSink);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintUsage(std::cerr);
    return ecUsage;
  }
  const std::string command = args.front();
  if (command == "--help" || command == "-h") {
    PrintUsage(std::cout);
    return ecOk;
  }
  if (command == "--version") {
    std::cout << "twinsifter-cli " TWINSIFTER_VERSION_STRING "\n";
    return ecOk;
  }
  try {
    if (command == "signature") return RunSignature({args.begin() + 1, args.end()});
    if (command == "compare") return RunCompare({args.begin() + 1, args.end()});
    return RunSearch(args);
  } catch (const std::exception& error) {
    std::cerr << "twinsifter-cli: " << error.what() << "\n";
    return ecFailed;
  }
}
