// kestravon-cli: the command-line program over the recovery core.
#include "cli/command_registry.h"

int main(int argc, char** argv)
{
    return kfr::cli::runCli(argc, argv);
}
