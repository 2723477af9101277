#pragma once

namespace erp::server {

// rec-appserver's command line: migrate, seed, add-operator, serve. Returns the exit status:
// 0 done, 1 failed, 2 bad options.
int runCommandLine(int argc, char **argv);

} // namespace erp::server
