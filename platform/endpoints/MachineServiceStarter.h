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
LONG EnsureLocalMachineService(std::string* detail = nullptr, bool* started = nullptr,
                               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// True when this machine's own service runs and answers, as described above.
bool LocalMachineServiceAnswers();

}  // namespace vn
