#pragma once
// Starting the local machine's service from the console: the console needs its
// own machine served (a reporting server reaches back to it, other consoles
// browse it), so it starts the service itself when nobody has.
//
// The service of this machine is the one that holds the lock on the home's pid
// file (<home>/vnmachined.pid) and answers with this machine's name on the
// configured address and port. A service that answers there without holding
// this home's pid file belongs to another home (another machine configured
// with the same name and port): it is never taken for this machine's own.
// When the machine's service does not answer, `vnmachined --home <home>
// --background` is started from the folder of the running executable. It runs
// in a session of its own, so it outlives the console, and the next console
// finds it running.
//
// With VORNAL_NO_AUTOSTART=1 in the environment nothing is started (tests
// that run the console in a scratch home set it): the call only reports
// whether the service answers.
//
// Threads: any, but meant for start-up. Blocks until the service answers or
// the time is up.

#include <chrono>
#include <string>

#include "platform/core/Win32Types.h"

namespace vn {


// ERROR_SUCCESS when the local machine's service answers, already or after
// being started (*started then says which); ERROR_FILE_NOT_FOUND when there is
// no vnmachined beside the executable; ERROR_SERVICE_REQUEST_TIMEOUT when it
// was started but did not answer within `timeout`, or could not start (a
// service of another home holding the port, say); ERROR_SERVICE_DISABLED when
// it does not answer and starting is switched off. On failure *detail says why.
[[nodiscard]] LONG EnsureLocalMachineService(std::string* detail = nullptr, bool* started = nullptr,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// True when this machine's own service runs and answers, as described above.
bool LocalMachineServiceAnswers();

// What the administrator's tools show of this machine's service.
struct LocalMachineServiceState {
  bool running = false;   // a service holds the home's pid file
  bool answers = false;   // ... and answers with this machine's name
  int pid = 0;            // the pid it wrote there (0 when none runs)
  std::string name;       // from the machine's configuration
  std::string domain;
  std::string address;    // where it listens, "ADDR:PORT"
};
LocalMachineServiceState QueryLocalMachineService();

// Stops this machine's own service politely (SIGTERM: it stops its services
// first, as at shutdown) and waits up to `timeout` for it to end. Only the
// process holding the home's pid file is signalled, never a service of
// another home. ERROR_SUCCESS once it has ended (*pid, when given, says
// which process it was); ERROR_SERVICE_NOT_ACTIVE when none runs;
// ERROR_SERVICE_REQUEST_TIMEOUT when it still runs after `timeout`;
// ERROR_ACCESS_DENIED when it belongs to a user this process may not signal.
[[nodiscard]] LONG StopLocalMachineService(std::chrono::milliseconds timeout, int* pid = nullptr);

}  // namespace vn
