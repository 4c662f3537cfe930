#pragma once
// Starting the local machine's service from the console: the console needs its
// own machine served (a reporting server reaches back to it, other consoles
// browse it), so it starts the service itself when nobody has.
//
// The service is found by its pid file (<home>/vnmachined.pid) and by asking
// it for its server information on the configured address and port; when it
// does not answer, `vnmachined --home <home> --background` is started from the
// folder of the running executable. It runs in a session of its own, so it
// outlives the console, and the next console finds it running.
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
// being started; ERROR_FILE_NOT_FOUND when there is no vnmachined beside the
// executable; ERROR_SERVICE_REQUEST_TIMEOUT when it was started but did not
// answer within `timeout` (or could not start: *detail then says why);
// ERROR_SERVICE_DISABLED when it does not answer and starting is switched off.
LONG EnsureLocalMachineService(std::string* detail = nullptr,
                               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// True when a service answers on the local machine's configured address and
// port with the local machine's name.
bool LocalMachineServiceAnswers();

}  // namespace vn
