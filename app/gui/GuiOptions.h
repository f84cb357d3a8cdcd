// The GUI program's own command-line options.
#pragma once

#include <string>
#include <vector>

namespace rv {

struct SGuiOptions {
    std::string Port;           // --port NAME: preselected in the port box
    bool Simulate = false;      // --simulate: the built-in simulated meter on a pseudo-terminal, preselected
    std::string MeterFile;      // --meter NAME|FILE: that meter description instead (implies --simulate)
    std::string ScreenshotDir;  // --screenshots DIR: connect, picture the windows into DIR and end
    int BenchSimulate = 0;      // --bench-simulate N: N simulated meters on pseudo-terminals in the rows of "Стенд"
};

extern const char kGuiUsage[];

// The text --help or --version asks for among the raw arguments, empty when neither is there. They need no
// display, so the program answers them before its application object exists: on a remote shell, and at build
// time for the manual page.
std::string HelpOrVersionAnswer(int argc, const char* const* argv);

// Parses the arguments after the program name (Qt has taken its own out before). Returns the error text for
// the technician, empty when they are fine.
std::string ParseGuiOptions(const std::vector<std::string>& args, SGuiOptions& options);

}  // namespace rv
