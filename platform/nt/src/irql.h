// The current thread's interrupt request level. Threads start at passive
// level; the DPC thread runs at dispatch level and ISRs at their DIRQL.
#pragma once

#include "ntddk.h"

namespace nt {

KIRQL currentIrql();
void setCurrentIrql(KIRQL irql);

class IrqlScope {
public:
    explicit IrqlScope(KIRQL irql) : previous_(currentIrql()) { setCurrentIrql(irql); }
    ~IrqlScope() { setCurrentIrql(previous_); }
    IrqlScope(const IrqlScope&) = delete;
    IrqlScope& operator=(const IrqlScope&) = delete;

private:
    KIRQL previous_;
};

void acquireSpinLock(PKSPIN_LOCK lock);
void releaseSpinLock(PKSPIN_LOCK lock);

}  // namespace nt
