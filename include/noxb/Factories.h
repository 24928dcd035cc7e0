// The module's two exports, as a host that loads it at run time looks them up
// (GetProcAddress / dlsym) by these undecorated names.
#ifndef NOXB_FACTORIES_H
#define NOXB_FACTORIES_H

#include "IBTProvider.h"
#include "IBleGattEvents.h"

namespace noxb {

inline constexpr char kCreateBleGattInstanceName[] = "CreateBleGattInstance";
inline constexpr char kCreateBleGattInstanceWithEventsName[] = "CreateBleGattInstanceWithEvents";

// The host destroys what these return through the provider's slot 0 (delete).
using CreateBleGattInstanceFn = IBTProvider* (*)();
using CreateBleGattInstanceWithEventsFn = IBTProvider* (*)(void* eventContext,
                                                           IBleGattEvents* eventSink);

}  // namespace noxb

#endif  // NOXB_FACTORIES_H
