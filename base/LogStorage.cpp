// The logging library's single storage object and its default crash handler,
// shared by the tool, the tests and the simulator.
#include "LogSetup.h"

#include <easylogging++.h>

namespace {

// The log may quote what devices answered: it is made for the user alone
// before the library opens it, which happens as its storage is built below.
const bool logPrepared = (PrepareDefaultLogFile(), true);

} // namespace

INITIALIZE_EASYLOGGINGPP
