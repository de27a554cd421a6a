// brisal: one Service Partition or Virtual Partition operation per run.
#include "brisal_entry.h"

int main(int argc, char** argv) {
    brisal::LinkedOstrum ostrum;
    brisal::StdoutOutput out;
    return brisal::brisalMain(argc, argv, ostrum, out);
}
