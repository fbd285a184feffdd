// The file layer's seams for tests and benchmarks, one for both platforms.
#include "records/file.h"

bool (*save_fault)(save_step);
bool (*save_give_up)();
bool save_sync = true;

bool fault(save_step step)
{
    return save_fault && save_fault(step);
}
