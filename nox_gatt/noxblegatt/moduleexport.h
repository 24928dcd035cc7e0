#ifndef NOXB_NOXBLEGATT_MODULEEXPORT_H
#define NOXB_NOXBLEGATT_MODULEEXPORT_H

// The module exports nothing but what is marked with this (and, off Windows,
// the type information of the exception family, see noxb/Exceptions.h).
#if defined(_WIN32)
#define NOXB_MODULE_EXPORT __declspec(dllexport)
#else
#define NOXB_MODULE_EXPORT __attribute__((visibility("default")))
#endif

#endif  // NOXB_NOXBLEGATT_MODULEEXPORT_H
