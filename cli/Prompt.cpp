#include "cli/Prompt.h"

#include <istream>

#include "util/Text.h"

namespace qv::cli {

bool Confirm(const ToolStreams& streams, Report& report, const std::string& warning,
             const std::string& question) {
  std::ostream& talk = report.Talk();
  talk << "Warning: " << warning << '\n' << question << " [y/N] " << std::flush;
  if (!streams.inIsTerminal) {
    talk << "\n(standard input is not a terminal: no; pass --yes to go on without asking)"
         << std::endl;
    return false;
  }
  std::string answer;
  std::getline(streams.in, answer);
  answer = LowerAscii(answer);
  return answer == "y" || answer == "yes";
}

}  // namespace qv::cli
