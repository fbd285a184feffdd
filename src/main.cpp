#include "console/args.h"
#include "console/console.h"
#include "console/screens.h"

int main(int argc, char** argv)
{
    console_std();
    if (int status = args(argc, argv); status >= 0)
        return status;
    return run();
}
