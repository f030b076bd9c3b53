// Clearing and summing profiles; the VM itself fills them (vm/vm.cpp).
#include "vm/profile.h"

namespace prendax {

void profile_clear(VmProfile* profile) {
    if (profile == nullptr) return;
    for (int i = 0; i < PROFILE_SLOTS; i++) {
        profile->executed[i] = 0;
        profile->budgetStops[i] = 0;
        profile->waitTicks[i] = 0;
    }
    profile->traceCount = 0;
    profile->traceDropped = 0;
}

void profile_add(VmProfile* into, const VmProfile* from) {
    if (into == nullptr || from == nullptr) return;
    for (int i = 0; i < PROFILE_SLOTS; i++) {
        into->executed[i] += from->executed[i];
        into->budgetStops[i] += from->budgetStops[i];
        into->waitTicks[i] += from->waitTicks[i];
    }
}

}  // namespace prendax
