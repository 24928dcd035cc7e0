// Everything a host includes to use the module.
#ifndef NOXB_NOXB_H
#define NOXB_NOXB_H

#include "Exceptions.h"
#include "Factories.h"
#include "IBTProvider.h"
#include "IBleGattEvents.h"
#include "Trace.h"

#endif  // NOXB_NOXB_H
