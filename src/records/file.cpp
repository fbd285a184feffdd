// The file layer's hooks, one for both platforms: the seams for tests and
// benchmarks, and the console's way to end a save's wait.
#include "records/file.h"

bool (*save_fault)(save_step);
bool (*save_give_up)();
bool save_sync = true;

bool fault(save_step step)
{
    return save_fault && save_fault(step);
}
