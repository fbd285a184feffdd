#include "records/table.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>

student stu[STUDENT_CAPACITY];
int n;
bool dirty;

namespace {

// strcmp compares as unsigned char and puts a proper prefix first, which is
// the order the register has always been kept in.
bool before(int a, int b)
{
    return std::strcmp(stu[a].id, stu[b].id) < 0;
}

// Moves the records so that slot k receives the record from slot order[k],
// following each cycle of the permutation: every record moves once.
void permute(std::uint16_t* order)
{
    for (int i = 0; i < n; ++i) {
        if (order[i] == i)
            continue;
        student held = stu[i];
        int j = i;
        for (int k = order[j]; k != i; k = order[j]) {
            stu[j] = stu[k];
            order[j] = static_cast<std::uint16_t>(j);
            j = k;
        }
        stu[j] = held;
        order[j] = static_cast<std::uint16_t>(j);
    }
}

} // namespace

void sort()
{
    static std::uint16_t order[STUDENT_CAPACITY];
    std::iota(order, order + n, std::uint16_t{0});
    if (std::is_sorted(order, order + n, before))
        return; // the usual case after loading a saved register
    // Sorting small indices and moving each record once costs far less than
    // moving whole records at every step; stable_sort keeps records with
    // equal ids in the order they had.
    std::stable_sort(order, order + n, before);
    permute(order);
}
