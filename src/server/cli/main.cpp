#include "cli.h"

int main(int argc, char **argv) { return erp::server::runCommandLine(argc, argv); }
