// The service program: its command line is the keeper's restart count.
#include "Service.h"

int main(int argc, char** argv) { return KestrovanMain(argc > 1 ? argv[1] : nullptr); }
