// Handing a command line over to the Python command: the interpreter that
// the package was built for runs `-m skyrec` with the same arguments, in
// this process's place.
#pragma once

namespace skyrec::launcher {

// Does not return; when no interpreter is found, or none can be run, says
// so on stderr and exits 2.
[[noreturn]] void hand_over(int argc, char** argv);

}  // namespace skyrec::launcher
