#include "app/Startup.h"

int main(int argc, char** argv) { return kelvane::RunKelvane(argc, argv); }
