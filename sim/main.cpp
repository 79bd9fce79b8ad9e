// main.cpp -- the `receiver` program: the receiver simulator on the command
// line (see `receiver --help`). Everything lives in the sim library.
#include "Cli.h"

int main(int argc, char **argv) { return sim::ReceiverMain(argc, argv); }
