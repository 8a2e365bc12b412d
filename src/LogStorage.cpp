// The logging library's single storage object and its default crash handler,
// shared by the tool, the tests and the simulator.
#include <easylogging++.h>

INITIALIZE_EASYLOGGINGPP
